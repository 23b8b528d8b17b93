#pragma once

#include <QString>
#include <cstdint>
#include <filesystem>
#include <functional>

#include "store/contents.h"

class QWidget;

namespace contents {

// Walks a source into a sink; readSource unless a test hands its own.
using SourceReader = std::function<void(const std::filesystem::path&, store::ContentsSink&)>;

enum class ReadOutcome { Done, Stopped, Failed };

struct ReadResult {
    ReadOutcome outcome = ReadOutcome::Failed;
    int64_t folders = 0;
    int64_t files = 0;
    QString message;  // a failure's, Russian
};

// Reads source into the disk's contents on a thread of its own, over its own connection
// to the catalogue in baseDir, while a progress dialog over parent counts the folders and
// files found and offers to stop. Returns once the thread is done and the dialog is gone;
// the new contents are committed only when the read ran to its end, else the disk keeps
// what it had.
ReadResult readWithProgress(QWidget* parent, const std::filesystem::path& baseDir, int64_t disk,
                            const std::filesystem::path& source, const SourceReader& reader);

}  // namespace contents
