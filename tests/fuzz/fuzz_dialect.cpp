// libFuzzer target for the statement dialect and the naming of result columns:
// the tokenizer, the translator, parameter names, preparing on a real catalogue,
// unique column names and the catalogue's like. Besides crashes and sanitizer
// reports it checks what must hold for any input.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "store/catalogue.h"
#include "store/database.h"
#include "store/dialect.h"
#include "store/error.h"
#include "store/query.h"
#include "store/statement.h"
#include "store/text.h"

namespace {

namespace fs = std::filesystem;

void require(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
}

struct Catalogue {
    fs::path dir;
    std::shared_ptr<store::Database> db;
    store::Connection plain{":memory:", store::Connection::Mode::Create};  // SQLite's own like
    Catalogue() {
        char pattern[] = "/tmp/fuzz_dialect-XXXXXX";
        dir = mkdtemp(pattern);
        store::createCatalogue(dir);
        db = store::Database::open(dir / "base");
    }
    ~Catalogue() {
        db.reset();
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
};

Catalogue& catalogue() {
    static Catalogue c;
    return c;
}

void checkTokens(std::string_view input) {
    std::string joined;
    for (const auto& t : store::tokenize(input)) {
        require(!t.text.empty(), "a token is never empty");
        joined += t.text;
    }
    require(joined == input, "tokens cover the statement exactly, in order");
}

void checkTranslation(std::string_view input) {
    try {
        const auto t =
            store::translate(input, [](std::string_view file) -> std::optional<std::string> {
                if (!store::tableForFile(file)) return std::nullopt;
                return std::string("t");
            });
        if (t.tableFiles.empty())
            require(t.sql == input, "a statement without tables stays as written");
    } catch (const store::Error&) {
    }
    const auto names = store::parameterNames(input);
    for (size_t i = 0; i < names.size(); ++i) {
        require(!names[i].empty(), "a parameter has a name");
        for (size_t j = 0; j < i; ++j)
            require(!store::equalsNoCase(names[i], names[j]), "each parameter is named once");
    }
    try {
        catalogue().db->prepare(input);
    } catch (const store::Error& e) {
        require(e.what()[0] != '\0', "an error says what went wrong");
    }
}

void checkColumnNames(std::string_view input) {
    std::vector<std::string> raw;
    for (size_t start = 0; raw.size() < 32;) {
        const size_t comma = input.find(',', start);
        raw.emplace_back(input.substr(start, comma - start));
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    const auto names = store::uniqueColumnNames(raw);
    require(names.size() == raw.size(), "one name per column");
    require(names.front() == raw.front(), "the first column keeps its name");
    for (size_t i = 0; i < names.size(); ++i) {
        require(names[i].compare(0, raw[i].size(), raw[i]) == 0,
                "a name starts as the column's own");
        for (size_t j = 0; j < i; ++j)
            require(store::foldCase(names[i]) != store::foldCase(names[j]),
                    "names differ, case ignored");
    }
}

std::string escaped(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '%' || c == '_' || c == '\\') out += '\\';
        out += c;
    }
    return out;
}

bool plainAscii(std::string_view s) {
    for (unsigned char c : s)
        if (c == 0 || c >= 0x80) return false;
    return true;
}

// SQLite's built-in like folds ASCII only and stops at NUL: on plain ASCII it must agree.
bool sqliteLike(std::string_view pattern, std::string_view text) {
    store::Statement like(catalogue().plain, "SELECT ?2 LIKE ?1");
    like.bindText(1, pattern);
    like.bindText(2, text);
    require(like.step(), "a like gives one row");
    return like.columnInt64(0) != 0;
}

void checkLike(std::string_view input) {
    const size_t cut = input.find('\n');
    const std::string_view pattern = input.substr(0, cut);
    const std::string_view text = cut == std::string_view::npos ? input : input.substr(cut + 1);
    const bool plain = store::likeMatch(pattern, text);
    store::likeMatch(pattern, text, U'\\');
    require(store::likeMatch("%", text), "% matches any text");
    require(store::likeMatch(escaped(text), text, U'\\'),
            "a text matches itself, wildcards escaped");
    if (plainAscii(pattern) && plainAscii(text) && pattern.size() <= 64 && text.size() <= 256)
        require(plain == sqliteLike(pattern, text), "like agrees with SQLite's on plain ASCII");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    checkTokens(input);
    checkTranslation(input);
    checkColumnNames(input);
    checkLike(input);
    return 0;
}
