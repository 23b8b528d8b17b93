#include "dialogs/Unit3.h"

#include <QDir>
#include <QFileDialog>
#include <QPlainTextEdit>
#include <QStringDecoder>
#include <QTextDocument>
#include <QValidator>

#include "commands/commandquery.h"
#include "dialogs/dialogwindow.h"
#include "resources/layoutqueries.h"
#include "ui_Unit3.h"
#include "widgets/listquery.h"
#include "widgets/longtext.h"
#include "widgets/messages.h"
#include "settings/regularfile.h"

TForm3* Form3 = nullptr;
bool EditMode = false;

namespace {

// Makes the entry whose key is key the box's choice; an unknown key changes nothing.
void standOnKey(LookupComboBox& box, const QString& keyField, int64_t key) {
    const int row = box.query()->findRow(keyField, QString::number(key));
    if (row >= 0) box.standOn(row);
}

// A disk name takes at most 255 characters, counted as the user sees them: an emoji is
// one character like a letter, not two UTF-16 units. A length limit in units would cut
// an emoji in half as the 255th unit is typed, and cut a longer name loaded for editing.
class NameLength final : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int& /*position*/) const override {
        return input.toUcs4().size() <= kMaxNameCharacters ? Acceptable : Invalid;
    }

private:
    static constexpr qsizetype kMaxNameCharacters = 255;
};

// A description is a few pages of text; a bigger file is surely not one.
constexpr qint64 kMaxDescriptionFileBytes = 16 * 1024 * 1024;

QString windows1251(const QByteArray& bytes) {
    QStringDecoder decoder("windows-1251");
    return decoder.isValid() ? decoder.decode(bytes) : QString::fromLatin1(bytes);
}

// The memo's text exactly as it holds it (no-break spaces kept), lines joined by CR LF.
QString memoText(const QPlainTextEdit& memo) {
    QString text = memo.document()->toRawText();
    text.replace(QChar::ParagraphSeparator, QStringLiteral("\r\n"));
    text.replace(QChar::LineSeparator, QStringLiteral("\r\n"));
    return text;
}

}  // namespace

QString descriptionFromFile(QByteArray bytes) {
    const qsizetype nul = bytes.indexOf('\0');
    if (nul >= 0) bytes.truncate(nul);
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8.decode(bytes);
    if (utf8.hasError()) text = windows1251(bytes);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return text;
}

TForm3::TForm3(MainWindowQueries mainWindow, QWidget* parent)
    : ButtonClosedDialog(parent), ui(std::make_unique<Ui::TForm3>()), mainWindow_(mainWindow) {
    Form3 = this;
    initResources();
    ui->setupUi(this);
    setFixedDialogWindow(*this, {216, 248});
    Query1 = createLayoutListQuery(QStringLiteral("Unit3"), QStringLiteral("Query1"), this);
    Query2 = createLayoutListQuery(QStringLiteral("Unit3"), QStringLiteral("Query2"), this);
    ui->LabeledEdit1->setValidator(new NameLength(ui->LabeledEdit1));
    ui->DBLookupComboBox1->bind(Query1, QStringLiteral("Name"));
    ui->DBLookupComboBox2->bind(Query2, QStringLiteral("Tip"));
    Query1->open();
    Query2->open();
    OpenDialog1 = [](TForm3& dialog) { return QFileDialog::getOpenFileName(&dialog); };
    onClick(this, ui->BitBtn1, &TForm3::Button3Click);
    onClick(this, ui->BitBtn2, &TForm3::Button4Click);
    onClick(this, ui->BitBtn3, &TForm3::Button1Click);
    // Any other text put into the box is the description from then on.
    connect(ui->Memo1, &QPlainTextEdit::textChanged, this, [this] {
        keptDescription_.reset();
        ui->Memo1->setReadOnly(false);
    });
    FormCreate();
}

TForm3::~TForm3() {
    if (Form3 == this) Form3 = nullptr;
}

void TForm3::FormCreate() {
    Query1->open();
    Query2->open();
}

void TForm3::startOnDisk(int64_t diskKey) {
    editedDisk_ = diskKey;
    store::Query keys(statements::diskCategoryAndType());
    keys.setInteger("N", diskKey);
    keys.open();
    if (keys.currentRow() < 0) return;
    standOnKey(*ui->DBLookupComboBox1, QStringLiteral("Num"), keys.field("Kategory").asInteger());
    standOnKey(*ui->DBLookupComboBox2, QStringLiteral("N"), keys.field("Tip").asInteger());
}

void TForm3::Button1Click() {
    const QString path = OpenDialog1(*this);
    if (path.isEmpty()) return;
    RegularFileRead read = readRegularFile(path, kMaxDescriptionFileBytes);
    if (!read.bytes) {
        messages().error(
            QStringLiteral("Не удалось прочитать файл \"%1\": %2.\nОписание не изменено.")
                .arg(QDir::toNativeSeparators(path), read.error));
        return;
    }
    setDescription(descriptionFromFile(std::move(*read.bytes)).toStdString());
}

void TForm3::setDescription(std::string utf8) {
    const TextExcerpt excerpt = excerptOf(
        utf8, QStringLiteral("При сохранении оно будет записано целиком, как есть; заменить его "
                             "можно, загрузив описание из файла."));
    ui->Memo1->setPlainText(excerpt.text);
    if (excerpt.whole) return;
    keptDescription_ = std::move(utf8);
    ui->Memo1->setReadOnly(true);
}

void TForm3::Button3Click() {
    done(QDialog::Rejected);
}

void TForm3::Button4Click() {
    const QString name = ui->LabeledEdit1->text();
    if (name.isEmpty() || name == QLatin1String(" ")) {
        messages().information(QStringLiteral("Введите название диска!"));
        done(QDialog::Rejected);
        return;
    }
    ListQuery& disks = mainWindow_.disks;
    if (EditMode && !editedDisk_ && command::refuseEmpty(disks, command::emptyDiskList())) return;
    if (command::refuseEmpty(*Query1, command::emptyCategories())) return;
    if (command::refuseEmpty(*Query2, command::emptyMediaTypes())) return;
    const std::string description =
        keptDescription_ ? *keptDescription_ : memoText(*ui->Memo1).toStdString();
    const int64_t category = Query1->key(QStringLiteral("Num"));
    const int64_t mediaType = Query2->key(QStringLiteral("N"));
    const auto setFields = [&](store::Query& q) {
        q.setText("Name", name.toStdString());
        q.setMemo("Opisan", description);
        q.setInteger("Kategory", category);
        q.setInteger("Tip", mediaType);
    };
    if (EditMode) {
        const int64_t disk = editedDisk_ ? *editedDisk_ : disks.key(QStringLiteral("N"));
        closingIfRecordGone(*this, [&] {
            command::executeByKey(mainWindow_.command, statements::editDisk(disk),
                                  command::missingDisk(), setFields);
        });
    } else {
        command::execute(mainWindow_.command, statements::addDisk(), setFields);
    }
    disks.reopen();
    done(QDialog::Accepted);
}

void TForm3::FormCloseQuery(bool& CanClose) {
    ui->LabeledEdit1->clear();
    ui->Memo1->clear();
    editedDisk_.reset();
    CanClose = true;
}

void TForm3::done(int result) {
    bool canClose = true;
    FormCloseQuery(canClose);
    if (canClose) QDialog::done(result);
}
