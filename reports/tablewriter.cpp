#include "reports/tablewriter.h"

namespace reports {
namespace {

std::string madeAndFilter(const TableHeading& heading) {
    std::string text = "Составлено ";
    text += heading.made;
    if (!heading.filter.empty()) {
        text += ". Отбор: ";
        text += heading.filter;
    }
    return text;
}

class CsvWriter final : public TableWriter {
public:
    CsvWriter(std::ostream& out, bool byteOrderMark) : out_(out), mark_(byteOrderMark) {}
    void begin(const std::vector<std::string>& titles, const std::vector<CellKind>&) override {
        if (mark_) out_ << "\xEF\xBB\xBF";
        line(titles);
    }
    void row(const std::vector<std::string>& cells, bool) override { line(cells); }
    void end(long long) override { out_.flush(); }

private:
    void line(const std::vector<std::string>& cells) {
        for (size_t i = 0; i < cells.size(); ++i) {
            if (i) out_ << ',';
            out_ << csvField(cells[i]);
        }
        out_ << "\r\n";
    }
    std::ostream& out_;
    bool mark_;
};

constexpr const char* kStyle =
    "body{font-family:sans-serif;margin:1.5em}"
    "table{border-collapse:collapse}"
    "th,td{border:1px solid #999;padding:2px 6px;text-align:left;vertical-align:top}"
    "th{background:#eee}"
    "td{white-space:pre-wrap}"
    "tr.overdue td{color:#b00000;font-weight:bold}";

class HtmlWriter final : public TableWriter {
public:
    HtmlWriter(std::ostream& out, TableHeading heading) : out_(out), heading_(std::move(heading)) {}
    void begin(const std::vector<std::string>& titles, const std::vector<CellKind>&) override {
        const std::string title = htmlEscaped(heading_.title);
        out_ << "<!DOCTYPE html>\n<html lang=\"ru\">\n<head>\n<meta charset=\"utf-8\">\n<title>"
             << title << "</title>\n<style>" << kStyle << "</style>\n</head>\n<body>\n<h1>" << title
             << "</h1>\n<p>" << htmlEscaped(madeAndFilter(heading_))
             << "</p>\n<table>\n<thead><tr>";
        for (const auto& t : titles) out_ << "<th>" << htmlEscaped(t) << "</th>";
        out_ << "</tr></thead>\n<tbody>\n";
    }
    void row(const std::vector<std::string>& cells, bool marked) override {
        out_ << (marked ? "<tr class=\"overdue\">" : "<tr>");
        for (const auto& c : cells) out_ << "<td>" << htmlEscaped(c) << "</td>";
        out_ << "</tr>\n";
    }
    void end(long long rows) override {
        out_ << "</tbody>\n</table>\n<p>Строк: " << rows << "</p>\n</body>\n</html>\n";
        out_.flush();
    }

private:
    std::ostream& out_;
    TableHeading heading_;
};

// Text as the content of an XML element of ODF: markup escaped, characters XML cannot
// hold dropped, and tabs, line breaks and the blanks ODF would fold written as its own
// elements, so a name reads back exactly.
std::string odfText(std::string_view text) {
    std::string out = "<text:p>";
    bool blankBefore = true;  // the paragraph's first blank is folded too
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool lastOfLine = i + 1 == text.size() || text[i + 1] == '\n' || text[i + 1] == '\r';
        if (c == ' ' && (blankBefore || lastOfLine)) {
            out += "<text:s/>";
        } else if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            out += "</text:p><text:p>";
            blankBefore = true;
            continue;
        } else if (c == '\t') {
            out += "<text:tab/>";
        } else if (static_cast<unsigned char>(c) < 0x20) {
            continue;
        } else if (c == '"') {
            out += "&quot;";
        } else if (c == '&' || c == '<' || c == '>') {
            out += c == '&' ? "&amp;" : c == '<' ? "&lt;" : "&gt;";
        } else {
            out += c;
        }
        blankBefore = c == ' ';
    }
    return out + "</text:p>";
}

// dd.MM.yyyy as yyyy-MM-dd; empty when the text is no such day.
std::string isoDay(std::string_view day) {
    const auto digits = [&](size_t at, size_t count) {
        for (size_t i = at; i < at + count; ++i)
            if (day[i] < '0' || day[i] > '9') return false;
        return true;
    };
    if (day.size() != 10 || day[2] != '.' || day[5] != '.' || !digits(0, 2) || !digits(3, 2) ||
        !digits(6, 4))
        return {};
    std::string iso(day.substr(6, 4));
    iso += '-';
    iso += day.substr(3, 2);
    iso += '-';
    iso += day.substr(0, 2);
    return iso;
}

// yyyy-MM-dd HH:MM:SS as yyyy-MM-ddTHH:MM:SS; empty when the text is no such moment.
std::string isoMoment(std::string_view moment) {
    constexpr std::string_view kForm = "0000-00-00 00:00:00";
    if (moment.size() != kForm.size()) return {};
    for (size_t i = 0; i < kForm.size(); ++i) {
        const bool digit = moment[i] >= '0' && moment[i] <= '9';
        if (kForm[i] == '0' ? !digit : moment[i] != kForm[i]) return {};
    }
    std::string iso(moment);
    iso[10] = 'T';
    return iso;
}

bool isNumber(std::string_view text) {
    size_t i = !text.empty() && text[0] == '-' ? 1 : 0;
    bool digits = false, point = false;
    for (; i < text.size(); ++i) {
        if (text[i] >= '0' && text[i] <= '9')
            digits = true;
        else if (text[i] == '.' && !point)
            point = true;
        else
            return false;
    }
    return digits && text.back() != '.';
}

// A sheet's name may not hold []*?:/\ .
std::string sheetName(std::string_view title) {
    std::string name;
    for (char c : title)
        if (std::string_view("[]*?:/\\'").find(c) == std::string_view::npos) name += c;
    return name.empty() ? "Лист1" : name;
}

constexpr const char* kOdsStart =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<office:document xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
    "xmlns:style=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\" "
    "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
    "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
    "xmlns:number=\"urn:oasis:names:tc:opendocument:xmlns:datastyle:1.0\" "
    "xmlns:fo=\"urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0\" "
    "office:version=\"1.3\" "
    "office:mimetype=\"application/vnd.oasis.opendocument.spreadsheet\">\n"
    "<office:automatic-styles>\n"
    "<number:date-style style:name=\"day\"><number:day number:style=\"long\"/>"
    "<number:text>.</number:text><number:month number:style=\"long\"/>"
    "<number:text>.</number:text><number:year number:style=\"long\"/></number:date-style>\n"
    "<number:date-style style:name=\"moment\"><number:day number:style=\"long\"/>"
    "<number:text>.</number:text><number:month number:style=\"long\"/>"
    "<number:text>.</number:text><number:year number:style=\"long\"/><number:text> </number:text>"
    "<number:hours number:style=\"long\"/><number:text>:</number:text>"
    "<number:minutes number:style=\"long\"/><number:text>:</number:text>"
    "<number:seconds number:style=\"long\"/></number:date-style>\n"
    "<style:style style:name=\"text\" style:family=\"table-column\">"
    "<style:table-column-properties style:column-width=\"5cm\"/></style:style>\n"
    "<style:style style:name=\"short\" style:family=\"table-column\">"
    "<style:table-column-properties style:column-width=\"2.4cm\"/></style:style>\n"
    "<style:style style:name=\"title\" style:family=\"table-cell\">"
    "<style:text-properties fo:font-size=\"14pt\" fo:font-weight=\"bold\"/></style:style>\n"
    "<style:style style:name=\"head\" style:family=\"table-cell\">"
    "<style:table-cell-properties fo:background-color=\"#eeeeee\"/>"
    "<style:text-properties fo:font-weight=\"bold\"/></style:style>\n"
    "<style:style style:name=\"date\" style:family=\"table-cell\" "
    "style:data-style-name=\"day\"/>\n"
    "<style:style style:name=\"datetime\" style:family=\"table-cell\" "
    "style:data-style-name=\"moment\"/>\n"
    "<style:style style:name=\"markeddatetime\" style:family=\"table-cell\" "
    "style:data-style-name=\"moment\"><style:text-properties fo:color=\"#b00000\" "
    "fo:font-weight=\"bold\"/></style:style>\n"
    "<style:style style:name=\"marked\" style:family=\"table-cell\">"
    "<style:text-properties fo:color=\"#b00000\" fo:font-weight=\"bold\"/></style:style>\n"
    "<style:style style:name=\"markeddate\" style:family=\"table-cell\" "
    "style:data-style-name=\"day\"><style:text-properties fo:color=\"#b00000\" "
    "fo:font-weight=\"bold\"/></style:style>\n"
    "</office:automatic-styles>\n<office:body>\n<office:spreadsheet>\n";

// Above the table, its title and how it was made; then the header row.
class OdsWriter final : public TableWriter {
public:
    OdsWriter(std::ostream& out, TableHeading heading) : out_(out), heading_(std::move(heading)) {}
    void begin(const std::vector<std::string>& titles,
               const std::vector<CellKind>& kinds) override {
        kinds_ = kinds;
        out_ << kOdsStart << "<table:table table:name=\"" << htmlEscaped(sheetName(heading_.title))
             << "\">\n";
        for (CellKind kind : kinds_)
            out_ << "<table:table-column table:style-name=\""
                 << (kind == CellKind::Text || kind == CellKind::DateTime ? "text" : "short")
                 << "\"/>";
        out_ << "\n<table:table-row><table:table-cell table:style-name=\"title\" "
                "office:value-type=\"string\">"
             << odfText(heading_.title) << "</table:table-cell></table:table-row>\n"
             << "<table:table-row><table:table-cell office:value-type=\"string\">"
             << odfText(madeAndFilter(heading_))
             << "</table:table-cell></table:table-row>\n<table:table-row/>\n<table:table-row>";
        for (const auto& t : titles)
            out_ << "<table:table-cell table:style-name=\"head\" office:value-type=\"string\">"
                 << odfText(t) << "</table:table-cell>";
        out_ << "</table:table-row>\n";
    }
    void row(const std::vector<std::string>& cells, bool marked) override {
        out_ << "<table:table-row>";
        for (size_t i = 0; i < cells.size(); ++i) {
            const std::string& c = cells[i];
            const CellKind kind = i < kinds_.size() ? kinds_[i] : CellKind::Text;
            if (c.empty()) {
                out_ << "<table:table-cell/>";
                continue;
            }
            const std::string day = kind == CellKind::Date       ? isoDay(c)
                                    : kind == CellKind::DateTime ? isoMoment(c)
                                                                 : std::string();
            out_ << "<table:table-cell";
            if (!day.empty()) {
                const char* style = kind == CellKind::Date ? "date" : "datetime";
                out_ << " table:style-name=\"" << (marked ? "marked" : "") << style
                     << "\" office:value-type=\"date\" office:date-value=\"" << day << "\">";
            } else {
                if (marked) out_ << " table:style-name=\"marked\"";
                if (kind == CellKind::Number && isNumber(c))
                    out_ << " office:value-type=\"float\" office:value=\"" << c << "\">";
                else
                    out_ << " office:value-type=\"string\">";
            }
            out_ << odfText(c) << "</table:table-cell>";
        }
        out_ << "</table:table-row>\n";
    }
    void end(long long) override {
        out_ << "</table:table>\n</office:spreadsheet>\n</office:body>\n</office:document>\n";
        out_.flush();
    }

private:
    std::ostream& out_;
    TableHeading heading_;
    std::vector<CellKind> kinds_;
};

}  // namespace

std::unique_ptr<TableWriter> makeWriter(Format format, std::ostream& out, TableHeading heading) {
    switch (format) {
        case Format::Html:
            return std::make_unique<HtmlWriter>(out, std::move(heading));
        case Format::Ods:
            return std::make_unique<OdsWriter>(out, std::move(heading));
        case Format::Csv:
            break;
    }
    return std::make_unique<CsvWriter>(out, heading.byteOrderMark);
}

std::string csvField(std::string_view cell) {
    // A spreadsheet reads a cell that begins so as a formula, which a crafted name could
    // use to compute or send away what the sheet holds; the apostrophe keeps it text.
    const bool formulaLike =
        !cell.empty() && std::string_view("=+-@\t\r").find(cell.front()) != std::string_view::npos;
    std::string text(formulaLike ? "'" : "");
    text.append(cell);
    const bool quote = text.find_first_of("\",\r\n") != std::string::npos ||
                       (!text.empty() && (text.front() == ' ' || text.back() == ' '));
    if (!quote) return text;
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
    return out;
}

std::string htmlEscaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

}  // namespace reports
