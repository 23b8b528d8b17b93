// The lend dialog and the disk editor as windows, loading a description from a file,
// and the two message boxes.
#include <sys/stat.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>

#include "app/Unit1.h"
#include "app/startup.h"
#include "dialogs/Unit2.h"
#include "dialogs/Unit3.h"
#include "tests/commands_fixture.h"
#include "ui_Unit2.h"
#include "ui_Unit3.h"
#include "widgets/listquery.h"
#include "widgets/lookupcombobox.h"
#include "widgets/messages.h"

namespace {

struct Control {
    const char* name;
    QRect geometry;
    QString text;  // caption of a label or button; empty: none checked
};

void checkControls(QWidget& window, std::initializer_list<Control> controls) {
    for (const Control& c : controls) {
        auto* w = window.findChild<QWidget*>(c.name);
        QVERIFY2(w, c.name);
        QCOMPARE(w->geometry(), c.geometry);
        if (c.text.isEmpty()) continue;
        if (auto* label = qobject_cast<QLabel*>(w)) QCOMPARE(label->text(), c.text);
        if (auto* button = qobject_cast<QPushButton*>(w)) {
            QCOMPARE(button->text(), c.text);
            QVERIFY(!button->icon().isNull());
            QVERIFY(!button->autoDefault());
            QVERIFY(!button->isDefault());
        }
    }
}

void checkWindow(QDialog& dialog, const QString& caption, QRect geometry) {
    QCOMPARE(dialog.windowTitle(), caption);
    QCOMPARE(dialog.pos(), geometry.topLeft());
    QCOMPARE(dialog.size(), geometry.size());
    QCOMPARE(dialog.minimumSize(), geometry.size());
    QCOMPARE(dialog.maximumSize(), geometry.size());
    const Qt::WindowFlags flags = dialog.windowFlags();
    QVERIFY(flags & Qt::CustomizeWindowHint);
    QVERIFY(flags & Qt::WindowTitleHint);
    QVERIFY(!(flags & (Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                       Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
}

// The names of the controls that Tab visits, from first on.
QStringList tabOrder(QWidget* first) {
    QStringList names;
    QWidget* w = first;
    do {
        if (w->focusPolicy() & Qt::TabFocus) names << w->objectName();
        w = w->nextInFocusChain();
    } while (w != first);
    return names;
}

const QString kDisks = "select Name, Opisan from \"base\\CDBase.db\" order by N";

}  // namespace

class DialogsTest : public QObject {
    Q_OBJECT
    std::unique_ptr<CommandsFixture> fx;
    QTemporaryDir files;

    QString writeFile(const QByteArray& bytes) {
        const QString path = files.filePath("описание.txt");
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) return {};
        return path;
    }

private slots:
    // Qt's Russian texts are loaded as the program loads them, so every box below is
    // checked with them in place: the program's own captions must stay as they are.
    void initTestCase() { QVERIFY(loadQtTranslation()); }
    void init() { fx = std::make_unique<CommandsFixture>(); }
    void cleanup() { fx.reset(); }

    void lendDialogIsLaidOut();
    void diskEditorIsLaidOut();
    void escapeAndEnterDoNotClose();
    void descriptionFromFile_data();
    void descriptionFromFile();
    void loadedDescriptionIsSavedWithItsLines();
    void unreadableFileLeavesTheDescription();
    void informationBox();
    void confirmationBox();
    void qtOwnTextsAreRussian();
    void controlsAreNamedForScreenReaders_data();
    void controlsAreNamedForScreenReaders();
};

void DialogsTest::lendDialogIsLaidOut() {
    // 20 pixels taller than first laid out, for the line that names the disk.
    checkWindow(*Form2, "Отдать диск", {185, 124, 260, 125});
    checkControls(*Form2,
                  {
                      {"Label1", {8, 8, 237, 13}, "Выберите из справочника, кому отдаёте диск:"},
                      {"DBLookupComboBox1", {8, 32, 249, 21}, {}},
                      {"BitBtn1", {8, 64, 75, 25}, "Отдать"},
                      {"BitBtn2", {176, 64, 75, 25}, "Отмена"},
                      {"LabelDisk", {8, 98, 249, 17}, {}},
                  });
    QCOMPARE(tabOrder(Form2->ui->DBLookupComboBox1),
             QStringList({"DBLookupComboBox1", "BitBtn1", "BitBtn2"}));
}

void DialogsTest::diskEditorIsLaidOut() {
    checkWindow(*Form3, "Добавление/редактирование диска", {216, 248, 688, 305});
    checkControls(*Form3, {
                              {"LabeledEdit1", {8, 24, 169, 21}, {}},
                              {"LabeledEdit1Label", {8, 8, 109, 13}, "Наименование диска"},
                              {"DBLookupComboBox1", {192, 24, 145, 21}, {}},
                              {"DBLookupComboBox2", {344, 24, 145, 21}, {}},
                              {"Memo1", {8, 72, 673, 193}, {}},
                              {"BitBtn1", {368, 272, 75, 25}, "Отмена"},
                              {"BitBtn2", {232, 272, 89, 25}, "Сохранить"},
                              {"BitBtn3", {8, 272, 185, 25}, "Загрузить описание из файла"},
                              {"Label1", {192, 8, 53, 13}, "Категория"},
                              {"Label2", {344, 8, 49, 13}, "Носитель"},
                              {"Label3", {8, 56, 50, 13}, "Описание"},
                              {"Label4", {344, 56, 46, 13}, "Обложка"},
                          });
    QCOMPARE(tabOrder(Form3->ui->LabeledEdit1),
             QStringList({"LabeledEdit1", "DBLookupComboBox1", "DBLookupComboBox2", "Memo1",
                          "BitBtn1", "BitBtn2", "BitBtn3"}));
    QCOMPARE(Form3->ui->LabeledEdit1Label->buddy(), Form3->ui->LabeledEdit1);
    // The name takes 255 characters; a 256th is refused.
    Form3->ui->LabeledEdit1->setFocus();
    QTest::keyClicks(Form3->ui->LabeledEdit1, QString(256, QChar(u'x')));
    QCOMPARE(Form3->ui->LabeledEdit1->text(), QString(255, QChar(u'x')));
}

void DialogsTest::escapeAndEnterDoNotClose() {
    const QStringList before = fx->rows(kDisks);
    for (QDialog* dialog : {static_cast<QDialog*>(Form2), static_cast<QDialog*>(Form3)}) {
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        for (QWidget* focus : dialog->findChildren<QPushButton*>()) {
            focus->setFocus();
            QTest::keyClick(focus, Qt::Key_Escape);
            QTest::keyClick(focus, Qt::Key_Return);
            QTest::keyClick(focus, Qt::Key_Enter);
            QVERIFY(dialog->isVisible());
        }
    }
    QCOMPARE(fx->rows(kDisks), before);
    QVERIFY(fx->boxes.shown.isEmpty());
    // Only a button closes: the editor's close clears the name and the description.
    Form3->ui->LabeledEdit1->setText("имя");
    Form3->ui->Memo1->setPlainText("описание");
    Form3->ui->BitBtn1->click();
    QVERIFY(!Form3->isVisible());
    QCOMPARE(Form3->ui->LabeledEdit1->text(), QString());
    QCOMPARE(Form3->ui->Memo1->toPlainText(), QString());
    Form2->ui->BitBtn2->click();
    QVERIFY(!Form2->isVisible());
}

void DialogsTest::descriptionFromFile_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("line ends") << QByteArray("a\nb\rc\r\nd\n\re") << "a\r\nb\r\nc\r\nd\r\n\r\ne";
    QTest::newRow("NUL ends the text") << QByteArray("до\nNUL\0после", 20) << "до\r\nNUL";
    QTest::newRow("UTF-8") << QByteArray("Диск №1 — «Ёлка»") << "Диск №1 — «Ёлка»";
    QTest::newRow("UTF-8 with BOM") << QByteArray("\xEF\xBB\xBFЁж") << "Ёж";
    QTest::newRow("Windows-1251") << QByteArray(
                                         "\xC4\xE8\xF1\xEA \xB9"
                                         "1\r\n\xAB\xA8\xEB\xEA\xE0\xBB")
                                  << "Диск №1\r\n«Ёлка»";
    QTest::newRow("empty") << QByteArray() << "";
}

void DialogsTest::descriptionFromFile() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(::descriptionFromFile(bytes), text);
}

void DialogsTest::loadedDescriptionIsSavedWithItsLines() {
    const char bytes[] = "Первая\xC2\xA0строка\nВторая\rТретья\0мусор";
    const QString path = writeFile(QByteArray(bytes, sizeof bytes - 1));
    QVERIFY(!path.isEmpty());
    QString asked;
    Form3->OpenDialog1 = [&](TForm3&) { return asked = path; };
    Form3->showModal = [](TForm3& editor) {
        editor.ui->LabeledEdit1->setText("Диск с описанием");
        editor.Button1Click();
        QCOMPARE(editor.ui->Memo1->blockCount(), 3);
        QCOMPARE(editor.ui->Memo1->document()->findBlockByNumber(2).text(), QString("Третья"));
        QCOMPARE(editor.ui->LabeledEdit1->text(), QString("Диск с описанием"));
        editor.Button4Click();
    };
    fx->form1().Button3Click();
    QCOMPARE(asked, path);
    QCOMPARE(fx->rows(kDisks).last(), "Диск с описанием|Первая\u00A0строка\r\nВторая\r\nТретья");
    QVERIFY(fx->boxes.shown.isEmpty());
}

// Only a regular file of at most 16 MB is read: a pipe nobody writes to, a device that
// never ends or a huge file is refused at once with a message, like a missing one.
void DialogsTest::unreadableFileLeavesTheDescription() {
    Form3->ui->Memo1->setPlainText("было");
    const QString pipe = files.filePath("канал");
    QCOMPARE(mkfifo(QFile::encodeName(pipe).constData(), 0644), 0);
    const QString zero = files.filePath("нули.txt");
    QVERIFY(QFile::link("/dev/zero", zero));
    QFile huge(files.filePath("большой.txt"));
    QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize(16 * 1024 * 1024 + 1));
    huge.close();
    const QList<QPair<QString, QString>> refusals = {
        {files.filePath("нет такого.txt"), "файл не найден"},
        {files.path(), "это не обычный файл"},
        {pipe, "это не обычный файл"},
        {zero, "это не обычный файл"},
        {huge.fileName(), "файл больше 16 МБ"}};
    for (const auto& [path, reason] : refusals) {
        Form3->OpenDialog1 = [&](TForm3&) { return path; };
        Form3->Button1Click();
        QCOMPARE(Form3->ui->Memo1->toPlainText(), QString("было"));
        QCOMPARE(fx->boxes.shown.takeFirst(),
                 QString("error: Не удалось прочитать файл \"%1\": %2.\nОписание не изменено.")
                     .arg(path, reason));
    }
    // A cancelled file dialog changes nothing either.
    Form3->OpenDialog1 = [](TForm3&) { return QString(); };
    Form3->Button1Click();
    QCOMPARE(Form3->ui->Memo1->toPlainText(), QString("было"));
    QVERIFY(fx->boxes.shown.isEmpty());
}

void DialogsTest::informationBox() {
    setMessages(nullptr);
    bool seen = false;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box);
        seen = true;
        QCOMPARE(box->windowTitle(), QString("test_dialogs"));
        QCOMPARE(box->windowTitle(), applicationTitle());
        QCOMPARE(box->text(), QString("Этот диск вы уже отдали!"));
        QCOMPARE(box->icon(), QMessageBox::NoIcon);
        QCOMPARE(box->buttons().size(), 1);
        QCOMPARE(box->buttons()[0]->text(), QString("OK"));
        QTest::keyClick(box, Qt::Key_Return);
    });
    messages().information("Этот диск вы уже отдали!");
    QVERIFY(seen);
}

void DialogsTest::confirmationBox() {
    setMessages(nullptr);
    auto answer = [](Qt::Key key) {
        QTimer::singleShot(0, [key] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box);
            QCOMPARE(box->windowTitle(), QString("Confirm"));
            QCOMPARE(box->icon(), QMessageBox::Question);
            QStringList captions;
            for (QAbstractButton* b : box->buttons()) captions << b->text();
            captions.sort();
            QCOMPARE(captions, QStringList({"&No", "&Yes"}));
            QCOMPARE(box->defaultButton()->text(), QString("&Yes"));
            QCOMPARE(box->escapeButton()->text(), QString("&No"));
            QTest::keyClick(box, key);
        });
        return messages().confirm("Подтвердите, что забираете диск \"Матрица\"");
    };
    QCOMPARE(answer(Qt::Key_Escape), false);
    QCOMPARE(answer(Qt::Key_Return), true);
}

// The file dialog that loads a description, and an edit box's context menu.
void DialogsTest::qtOwnTextsAreRussian() {
    QFileDialog dialog(Form3);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    QStringList buttons;
    for (const QAbstractButton* b : dialog.findChild<QDialogButtonBox*>()->buttons())
        buttons << b->text();
    buttons.sort();
    QCOMPARE(buttons, QStringList({"&Открыть", "Отмена"}));
    QStringList labels;
    for (const QLabel* label : dialog.findChildren<QLabel*>()) labels << label->text();
    QVERIFY2(labels.contains("Перейти к:") && labels.contains("&Имя файла:"),
             qPrintable(labels.join('|')));

    const std::unique_ptr<QMenu> menu(Form3->ui->LabeledEdit1->createStandardContextMenu());
    QStringList items;
    for (const QAction* a : menu->actions()) items << a->text().section('\t', 0, 0);
    QVERIFY2(items.contains("&Копировать") && items.contains("В&ставить"),
             qPrintable(items.join('|')));
}

void DialogsTest::controlsAreNamedForScreenReaders_data() {
    QTest::addColumn<int>("window");  // Form1, Form2 or Form3
    QTest::addColumn<QString>("name");
    QTest::addColumn<QAccessible::Role>("role");
    QTest::newRow("Form1.DBLookupComboBox1") << 1 << "Категория" << QAccessible::ComboBox;
    QTest::newRow("Form1.DBLookupComboBox2") << 1 << "Носитель" << QAccessible::ComboBox;
    QTest::newRow("Form2.DBLookupComboBox1")
        << 2 << "Выберите из справочника, кому отдаёте диск:" << QAccessible::ComboBox;
    QTest::newRow("Form3.DBLookupComboBox1") << 3 << "Категория" << QAccessible::ComboBox;
    QTest::newRow("Form3.DBLookupComboBox2") << 3 << "Носитель" << QAccessible::ComboBox;
    QTest::newRow("Form3.Memo1") << 3 << "Описание" << QAccessible::EditableText;
}

// What a screen reader hears: the control's name (not the entry a box shows), its role,
// and for a lookup box the entry as its value and its list to choose from.
void DialogsTest::controlsAreNamedForScreenReaders() {
    QFETCH(int, window);
    QFETCH(QString, name);
    QFETCH(QAccessible::Role, role);
    const QWidget* windows[] = {&fx->form1(), Form2, Form3};
    auto* control = windows[window - 1]->findChild<QWidget*>(
        QString::fromLatin1(QTest::currentDataTag()).section('.', 1));
    QVERIFY(control);
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(control);
    QVERIFY(accessible);
    QCOMPARE(accessible->text(QAccessible::Name), name);
    QCOMPARE(accessible->role(), role);
    if (auto* box = qobject_cast<QComboBox*>(control)) {
        QVERIFY(!box->currentText().isEmpty());
        QCOMPARE(accessible->text(QAccessible::Value), box->currentText());
        // Its list read entry by entry, and an entry picked there chosen: "Press" opens
        // the list, the entry's own action selects it, "Press" again takes it.
        QCOMPARE(accessible->childCount(), 1);
        QAccessibleInterface* list = accessible->child(0);
        QVERIFY(list && box->count() > 1);
        QCOMPARE(list->childCount(), box->count());
        for (int i = 0; i < box->count(); ++i)
            QCOMPARE(list->child(i)->text(QAccessible::Name), box->itemText(i));
        const auto pick = [&](int row) {
            accessible->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
            list->child(row)->actionInterface()->doAction(
                QAccessibleActionInterface::toggleAction());
            accessible->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        };
        const int was = box->currentIndex(), other = (was + 1) % box->count();
        pick(other);
        QCOMPARE(box->currentIndex(), other);
        QCOMPARE(accessible->text(QAccessible::Value), box->itemText(other));
        pick(was);
        QCOMPARE(box->currentIndex(), was);
    }
}

QTEST_MAIN(DialogsTest)
#include "test_dialogs.moc"
