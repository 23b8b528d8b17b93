#include "store/dialect.h"

#include "store/catalogue.h"
#include "store/error.h"

namespace store {
namespace {

bool isWordByte(unsigned char c) {
    return c == '_' || c == '$' || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') ||
           (c >= 'A' && c <= 'Z') || c >= 0x80;
}

bool isDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}

// A quoted run ends at the closing quote; a doubled quote stays inside.
size_t quotedEnd(std::string_view s, size_t i) {
    const char q = s[i];
    for (size_t j = i + 1; j < s.size(); ++j) {
        if (s[j] == q) {
            if (j + 1 < s.size() && s[j + 1] == q) {
                ++j;
                continue;
            }
            return j + 1;
        }
    }
    return s.size();  // unterminated: SQLite reports it
}

bool introducesTable(std::string_view word) {
    return equalsNoCase(word, "from") || equalsNoCase(word, "join") || equalsNoCase(word, "into") ||
           equalsNoCase(word, "update");
}

}  // namespace

Token nextToken(std::string_view s, size_t& i) {
    const auto c = static_cast<unsigned char>(s[i]);
    size_t j = i + 1;
    Token::Kind kind;
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v') {
        while (j < s.size() && (s[j] == ' ' || s[j] == '\t' || s[j] == '\r' || s[j] == '\n' ||
                                s[j] == '\f' || s[j] == '\v'))
            ++j;
        kind = Token::Kind::Space;
    } else if (c == '-' && j < s.size() && s[j] == '-') {
        while (j < s.size() && s[j] != '\n') ++j;
        kind = Token::Kind::Space;
    } else if (c == '\'' || c == '"') {
        j = quotedEnd(s, i);
        kind = c == '\'' ? Token::Kind::SingleQuoted : Token::Kind::DoubleQuoted;
    } else if (c == ':' && j < s.size() && isWordByte(static_cast<unsigned char>(s[j]))) {
        while (j < s.size() && isWordByte(static_cast<unsigned char>(s[j]))) ++j;
        kind = Token::Kind::Parameter;
    } else if (isDigit(c) ||
               (c == '.' && j < s.size() && isDigit(static_cast<unsigned char>(s[j])))) {
        while (j < s.size() && (isDigit(static_cast<unsigned char>(s[j])) || s[j] == '.')) ++j;
        kind = Token::Kind::Number;
    } else if (isWordByte(c)) {
        while (j < s.size() && isWordByte(static_cast<unsigned char>(s[j]))) ++j;
        kind = Token::Kind::Word;
    } else {
        kind = Token::Kind::Punct;
    }
    const Token token{kind, s.substr(i, j - i)};
    i = j;
    return token;
}

std::vector<Token> tokenize(std::string_view s) {
    std::vector<Token> out;
    for (size_t i = 0; i < s.size();) out.push_back(nextToken(s, i));
    return out;
}

std::optional<std::string> tablePathFileName(const Token& token) {
    if (token.kind != Token::Kind::SingleQuoted && token.kind != Token::Kind::DoubleQuoted)
        return std::nullopt;
    std::string_view inner = token.text.substr(1);
    if (!inner.empty() && inner.back() == token.text.front()) inner.remove_suffix(1);
    if (inner.size() <= kBaseFolder.size() + 1) return std::nullopt;
    if (!equalsNoCase(inner.substr(0, kBaseFolder.size()), kBaseFolder)) return std::nullopt;
    const char sep = inner[kBaseFolder.size()];
    if (sep != '\\' && sep != '/') return std::nullopt;
    std::string_view file = inner.substr(kBaseFolder.size() + 1);
    if (file.find_first_of("\\/") != std::string_view::npos) return std::nullopt;
    return std::string(file);
}

Translation translate(std::string_view statement, const TableResolver& resolve) {
    Translation t;
    t.sql.reserve(statement.size() + 32);
    std::string_view lastWord;  // the last keyword-like token before this one, spaces skipped
    for (size_t i = 0; i < statement.size();) {
        const Token tok = nextToken(statement, i);
        if (tok.kind == Token::Kind::Space) {
            t.sql += tok.text;
            continue;
        }
        if (introducesTable(lastWord)) {
            if (auto file = tablePathFileName(tok)) {
                auto sqlName = resolve(*file);
                if (!sqlName)
                    throw Error(Error::Kind::Statement,
                                "Неизвестная таблица " + std::string(tok.text) + " в запросе:\n" +
                                    std::string(statement));
                t.tableFiles.push_back(*file);
                t.sql += *sqlName;
                lastWord = {};
                continue;
            }
        }
        if (tok.kind == Token::Kind::Parameter) {
            std::string name(tok.text.substr(1));
            bool seen = false;
            for (const auto& p : t.parameters) seen = seen || p == name;
            if (!seen) t.parameters.push_back(name);
        }
        t.sql += tok.text;
        lastWord = tok.kind == Token::Kind::Word ? tok.text : std::string_view{};
    }
    return t;
}

std::vector<std::string> parameterNames(std::string_view statement) {
    std::vector<std::string> names;
    for (size_t i = 0; i < statement.size();) {
        const Token tok = nextToken(statement, i);
        if (tok.kind != Token::Kind::Parameter) continue;
        std::string name(tok.text.substr(1));
        bool seen = false;
        for (const auto& p : names) seen = seen || equalsNoCase(p, name);
        if (!seen) names.push_back(name);
    }
    return names;
}

}  // namespace store
