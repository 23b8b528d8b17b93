#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace store {

// The program's statements name tables by quoted relative paths ('base\CDBase.db',
// "base\Dolg.DB") and use :Name parameters. This turns such a statement into
// SQLite's SQL, leaving everything else as written.

struct Token {
    enum class Kind { Space, Word, Number, SingleQuoted, DoubleQuoted, Parameter, Punct };
    Kind kind;
    std::string_view text;  // as written, quotes included
};

std::vector<Token> tokenize(std::string_view sql);
// The token that starts at i (i < sql.size()); i moves past it.
Token nextToken(std::string_view sql, size_t& i);

// The file name inside a quoted table path such as 'base\CDBase.db', if it is one.
std::optional<std::string> tablePathFileName(const Token& token);

struct Translation {
    std::string sql;
    std::vector<std::string> tableFiles;  // file names as the statement writes them
    std::vector<std::string> parameters;  // names without the colon, in order of appearance
};

// resolve maps a table file name to the SQL name of its table (schema.table), or
// nothing when the file is not a catalogue table.
using TableResolver = std::function<std::optional<std::string>(std::string_view fileName)>;

// Throws store::Error for a table path that resolve does not know.
Translation translate(std::string_view statement, const TableResolver& resolve);

// Parameter names (without the colon) in order of first appearance, each once.
std::vector<std::string> parameterNames(std::string_view statement);

}  // namespace store
