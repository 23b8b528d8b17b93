#include "store/namestatement.h"

#include <algorithm>
#include <array>
#include <map>
#include <vector>

#include "store/catalogue.h"
#include "store/dialect.h"
#include "store/namecopy.h"

namespace store {
namespace {

using Kind = Token::Kind;

constexpr std::string_view kNameField = "Name";
constexpr std::string_view kCandidates = "korvalen_candidates";

bool isWord(const Token& t, std::string_view word) {
    return t.kind == Kind::Word && equalsNoCase(t.text, word);
}

bool isReserved(std::string_view word) {
    static constexpr std::string_view kReserved[] = {
        "select", "from",    "where",  "and",   "or",     "not",    "like",  "in",
        "is",     "between", "case",   "when",  "exists", "escape", "glob",  "match",
        "regexp", "collate", "join",   "inner", "cross",  "left",   "right", "full",
        "outer",  "natural", "on",     "using", "as",     "group",  "order", "limit",
        "having", "union",   "window", "true",  "false",  "null"};
    return std::any_of(std::begin(kReserved), std::end(kReserved),
                       [&](std::string_view r) { return equalsNoCase(word, r); });
}

// A single-quoted literal that ends where it should (quotes inside doubled).
bool isWholeLiteral(const Token& t) {
    if (t.kind != Kind::SingleQuoted || t.text.size() < 2) return false;
    for (size_t i = 1; i < t.text.size(); ++i) {
        if (t.text[i] != '\'') continue;
        if (i + 1 < t.text.size() && t.text[i + 1] == '\'') {
            ++i;
            continue;
        }
        return i + 1 == t.text.size();
    }
    return false;
}

std::string identifier(const Token& t) {
    if (t.kind != Kind::DoubleQuoted) return std::string(t.text);
    std::string out;
    for (size_t i = 1; i + 1 < t.text.size(); ++i) {
        out.push_back(t.text[i]);
        if (t.text[i] == '"') ++i;
    }
    return out;
}

struct Operand {
    enum class Kind { Column, Value, Literal } kind;
    std::vector<std::string> parts;  // a column as written: [qualifier.]field
    std::string_view text;           // a value or literal as written
};

struct Term {
    enum class Op { Equal, Like, Other } op;
    Operand left;
    Operand right;
};

struct TableRef {
    const TableDef* table;
    std::string alias;  // empty: none
};

struct Edit {
    size_t at;
    size_t erase;
    std::string insert;
};

class Parser {
public:
    explicit Parser(std::string_view sql) : sql_(sql) {
        for (size_t i = 0; i < sql.size();) {
            const Token t = nextToken(sql, i);
            if (t.kind != Kind::Space) tokens_.push_back(t);
        }
    }

    std::optional<std::string> narrowed() {
        if (!word("select")) return std::nullopt;
        while (!atWord("from")) {
            if (atEnd() || atWord("select")) return std::nullopt;
            ++i_;
        }
        ++i_;
        const size_t tableStart = i_;
        if (!tableRef() || tables_.front().table != &diskTable()) return std::nullopt;
        const size_t tableEnd = i_;
        while (atWord("inner") || atWord("join")) {
            if (atWord("inner"))
                edits_.push_back({position(i_++), 5, "CROSS"});
            else
                edits_.push_back({position(i_), 0, "CROSS "});
            if (!word("join") || !tableRef() || !word("on") || !condition()) return std::nullopt;
        }
        if (word("where") && !condition()) return std::nullopt;
        if (atPunct(';')) ++i_;
        if (!atEnd()) return std::nullopt;
        return rewrite(tableStart, tableEnd);
    }

private:
    bool atEnd() const { return i_ >= tokens_.size(); }
    const Token& at(size_t k) const { return tokens_[k]; }
    bool atWord(std::string_view w) const { return !atEnd() && isWord(at(i_), w); }
    bool atPunct(char c) const {
        return !atEnd() && at(i_).kind == Kind::Punct && at(i_).text.front() == c;
    }
    bool word(std::string_view w) {
        if (!atWord(w)) return false;
        ++i_;
        return true;
    }
    bool punct(char c) {
        if (!atPunct(c)) return false;
        ++i_;
        return true;
    }
    size_t position(size_t k) const {
        return k < tokens_.size() ? static_cast<size_t>(at(k).text.data() - sql_.data())
                                  : sql_.size();
    }
    size_t endOf(size_t k) const { return position(k) + at(k).text.size(); }

    // "schema"."table" [[AS] alias], as the dialect writes a catalogue table.
    bool tableRef() {
        if (i_ + 2 >= tokens_.size() || at(i_).kind != Kind::DoubleQuoted || !atPunctAt(i_ + 1) ||
            at(i_ + 2).kind != Kind::DoubleQuoted)
            return false;
        const std::string written(sql_.substr(position(i_), endOf(i_ + 2) - position(i_)));
        const TableDef* found = nullptr;
        for (const TableDef& t : catalogueTables())
            if (qualifiedName(t) == written) found = &t;
        if (!found) return false;
        i_ += 3;
        TableRef ref{found, {}};
        const bool as = word("as");
        if (!atEnd() && at(i_).kind == Kind::Word && !isReserved(at(i_).text))
            ref.alias = std::string(at(i_++).text);
        else if (as)
            return false;
        tables_.push_back(std::move(ref));
        return true;
    }
    bool atPunctAt(size_t k) const {
        return k < tokens_.size() && at(k).kind == Kind::Punct && at(k).text == ".";
    }

    // cond := conj (AND conj)* ; conj := '(' cond ')' | term
    bool condition() {
        do {
            if (!conjunct()) return false;
        } while (word("and"));
        return true;
    }
    bool atConditionEnd() const {
        return atEnd() || atWord("and") || atPunct(')') || atPunct(';') || atWord("where") ||
               atWord("inner") || atWord("join");
    }
    bool conjunct() {
        const size_t save = i_;
        const size_t terms = terms_.size();
        if (punct('(') && condition() && punct(')') && atConditionEnd()) return true;
        i_ = save;
        terms_.resize(terms);
        return term();
    }
    bool term() {
        Term t{};
        if (!operand(t.left)) return false;
        if (word("like")) {
            t.op = Term::Op::Like;
        } else if (punct('=')) {
            punct('=');
            t.op = Term::Op::Equal;
        } else if (punct('<')) {  // <, <=, <>
            t.op = Term::Op::Other;
            if (!punct('=')) punct('>');
        } else if (punct('>') || (punct('!') && atPunct('='))) {  // >, >=, !=
            t.op = Term::Op::Other;
            punct('=');
        } else {
            return false;
        }
        if (!operand(t.right) || !atConditionEnd()) return false;
        terms_.push_back(std::move(t));
        return true;
    }
    bool operand(Operand& o) {
        if (punct('(')) return operand(o) && punct(')');
        if (atEnd()) return false;
        const Token& t = at(i_);
        if (t.kind == Kind::Parameter || t.kind == Kind::Number || isWord(t, "true") ||
            isWord(t, "false") || isWord(t, "null")) {
            o = {Operand::Kind::Value, {}, t.text};
            ++i_;
            return true;
        }
        if (t.kind == Kind::SingleQuoted) {
            if (!isWholeLiteral(t)) return false;
            o = {Operand::Kind::Literal, {}, t.text};
            ++i_;
            return true;
        }
        o = {Operand::Kind::Column, {}, {}};
        do {
            if (atEnd()) return false;
            const Token& part = at(i_);
            if (!(part.kind == Kind::DoubleQuoted ||
                  (part.kind == Kind::Word && !isReserved(part.text))))
                return false;
            o.parts.push_back(identifier(part));
            ++i_;
        } while (punct('.'));
        return o.parts.size() <= 3;
    }

    static bool hasField(const TableDef& t, std::string_view field) {
        return std::any_of(t.fields.begin(), t.fields.end(),
                           [&](const FieldDef& f) { return equalsNoCase(f.name, field); });
    }
    // The table (index into tables_) and field a column names, as "index:field".
    std::optional<std::string> resolve(const Operand& o) const {
        if (o.kind != Operand::Kind::Column || o.parts.size() > 2) return std::nullopt;
        const std::string& field = o.parts.back();
        std::optional<size_t> found;
        for (size_t k = 0; k < tables_.size(); ++k) {
            const TableRef& t = tables_[k];
            if (o.parts.size() == 2) {
                const std::string_view name = t.alias.empty() ? t.table->table : t.alias;
                if (!equalsNoCase(o.parts[0], name)) continue;
            }
            if (!hasField(*t.table, field)) continue;
            if (found) return std::nullopt;  // ambiguous: SQLite refuses it anyway
            found = k;
        }
        if (!found) return std::nullopt;
        return std::to_string(*found) + ":" + asciiLower(field);
    }

    std::string root(std::map<std::string, std::string>& parent, std::string k) const {
        while (parent.count(k) && parent[k] != k) k = parent[k];
        return k;
    }

    std::optional<std::string> rewrite(size_t tableStart, size_t tableEnd) {
        const std::string nameColumn = "0:" + asciiLower(kNameField);
        std::optional<std::string_view> pattern;
        std::map<std::string, std::string> parent;
        std::vector<std::pair<std::string, std::string_view>> bound;
        for (const Term& t : terms_) {
            const auto left = resolve(t.left);
            const auto right = resolve(t.right);
            if (t.op == Term::Op::Like) {
                if (!pattern && left == nameColumn && t.right.kind == Operand::Kind::Literal)
                    pattern = t.right.text;
            } else if (t.op == Term::Op::Equal) {
                if (left && right)
                    parent[root(parent, *left)] = root(parent, *right);
                else if (left && t.right.kind == Operand::Kind::Value)
                    bound.emplace_back(*left, t.right.text);
                else if (right && t.left.kind == Operand::Kind::Value)
                    bound.emplace_back(*right, t.left.text);
            }
        }
        if (!pattern) return std::nullopt;
        std::string call = std::string(kCandidatesFunction) + "(" + std::string(*pattern);
        for (std::string_view field : kCopyFieldNames) {
            const std::string wanted = root(parent, "0:" + asciiLower(field));
            std::string_view value = "''";
            for (const auto& [column, v] : bound)
                if (root(parent, column) == wanted) value = v;
            call += ", " + std::string(value);
        }
        call += ") AS " + std::string(kCandidates) + " CROSS JOIN ";
        const TableRef& disks = tables_.front();
        const std::string qualifier =
            disks.alias.empty() ? qualifiedName(*disks.table) : disks.alias;
        const std::string_view key = disks.table->fields.front().name;  // the row key
        edits_.push_back({position(tableStart), 0, call});
        edits_.push_back({endOf(tableEnd - 1), 0,
                          " ON " + qualifier + "." + std::string(key) + " = " +
                              std::string(kCandidates) + ".rowid"});
        std::sort(edits_.begin(), edits_.end(),
                  [](const Edit& a, const Edit& b) { return a.at < b.at; });
        std::string out;
        size_t from = 0;
        for (const Edit& e : edits_) {
            out.append(sql_.substr(from, e.at - from)).append(e.insert);
            from = e.at + e.erase;
        }
        out.append(sql_.substr(from));
        return out;
    }

    std::string_view sql_;
    std::vector<Token> tokens_;
    size_t i_ = 0;
    std::vector<TableRef> tables_;
    std::vector<Term> terms_;
    std::vector<Edit> edits_;
};

}  // namespace

std::optional<std::string> narrowedByNames(std::string_view sql) {
    if (sql.find('\0') != std::string_view::npos) return std::nullopt;
    return Parser(sql).narrowed();
}

}  // namespace store
