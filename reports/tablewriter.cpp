#include "reports/tablewriter.h"

namespace reports {
namespace {

class CsvWriter final : public TableWriter {
public:
    explicit CsvWriter(std::ostream& out) : out_(out) {}
    void begin(const std::vector<std::string>& titles) override { line(titles); }
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
    HtmlWriter(std::ostream& out, std::string title) : out_(out), title_(std::move(title)) {}
    void begin(const std::vector<std::string>& titles) override {
        out_ << "<!DOCTYPE html>\n<html lang=\"ru\">\n<head>\n<meta charset=\"utf-8\">\n<title>"
             << htmlEscaped(title_) << "</title>\n<style>" << kStyle
             << "</style>\n</head>\n<body>\n<h1>" << htmlEscaped(title_)
             << "</h1>\n<table>\n<thead><tr>";
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
    std::string title_;
};

}  // namespace

std::unique_ptr<TableWriter> makeWriter(Format format, std::ostream& out, std::string title) {
    if (format == Format::Html) return std::make_unique<HtmlWriter>(out, std::move(title));
    return std::make_unique<CsvWriter>(out);
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
