#include "tools/demo_contents.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <random>
#include <string_view>

#include "store/contentsstore.h"

namespace tools {
namespace {

using store::ContentsWriter;
using store::FolderId;
using store::kRootFolder;

constexpr int64_t kMiB = 1024 * 1024;
constexpr int64_t kDvd = 4'700'000'000;
constexpr int64_t kCd = 737'280'000;

class Maker {
public:
    Maker(ContentsWriter& w, std::mt19937& rng, int64_t when) : w_(w), rng_(rng), when_(when) {}

    int64_t between(int64_t lo, int64_t hi) {
        return std::uniform_int_distribution<int64_t>(lo, hi)(rng_);
    }
    int64_t moment() { return when_ + between(0, 86400 * 3); }
    FolderId folder(FolderId parent, std::string_view name) {
        return w_.folder(parent, name, moment(), 0);
    }
    void file(FolderId parent, std::string_view name, int64_t size) {
        w_.file(parent, name, size, moment(), 0);
        used_ += size;
    }
    int64_t used() const { return used_; }

private:
    ContentsWriter& w_;
    std::mt19937& rng_;
    int64_t when_;
    int64_t used_ = 0;
};

std::string numbered(const char* pattern, int64_t n) {
    char text[96];
    std::snprintf(text, sizeof text, pattern, static_cast<long long>(n));
    return text;
}

// A DVD-Video: the title set's VOBs of a gigabyte each, as authoring tools write them.
void video(Maker& m, int64_t) {
    const FolderId ts = m.folder(kRootFolder, "VIDEO_TS");
    m.folder(kRootFolder, "AUDIO_TS");
    for (const char* name : {"VIDEO_TS.BUP", "VIDEO_TS.IFO"}) m.file(ts, name, 18432);
    m.file(ts, "VIDEO_TS.VOB", m.between(100, 900) * 1024);
    const int64_t sets = m.between(1, 3);
    for (int64_t set = 1; set <= sets; ++set) {
        m.file(ts, numbered("VTS_%02lld_0.BUP", set), m.between(20, 90) * 1024);
        m.file(ts, numbered("VTS_%02lld_0.IFO", set), m.between(20, 90) * 1024);
        m.file(ts, numbered("VTS_%02lld_0.VOB", set), m.between(1, 200) * kMiB);
        const int64_t parts = set == 1 ? m.between(3, 4) : 1;
        for (int64_t part = 1; part <= parts; ++part)
            m.file(ts, numbered("VTS_%02lld_", set) + std::to_string(part) + ".VOB",
                   part < parts ? 1073709056 : m.between(100, 1000) * kMiB);
    }
}

void installer(Maker& m, int64_t budget) {
    m.file(kRootFolder, "autorun.inf", m.between(60, 200));
    m.file(kRootFolder, "setup.exe", m.between(300, 3000) * 1024);
    m.file(kRootFolder, "readme.txt", m.between(2, 30) * 1024);
    const FolderId setup = m.folder(kRootFolder, "Setup");
    for (int64_t i = 1; i <= std::max<int64_t>(2, budget / 20); ++i)
        m.file(setup, numbered("data%lld.cab", i), m.between(5, 60) * kMiB);
    m.file(setup, "setup.ini", 1200);
    const FolderId redist = m.folder(kRootFolder, "Redist");
    for (const char* name : {"vcredist_x86.exe", "dotnetfx.exe", "DirectX9c.exe"})
        m.file(redist, name, m.between(2, 25) * kMiB);
    const FolderId program = m.folder(kRootFolder, "Program Files");
    const FolderId lang = m.folder(program, "Lang");
    for (const char* name : {"russian.lng", "english.lng", "ukrainian.lng"})
        m.file(lang, name, m.between(20, 200) * 1024);
    constexpr std::array kinds = {"%04lld.dll", "res%04lld.dat", "help%03lld.chm", "tex%04lld.pak"};
    for (int64_t i = 0; i < budget - 15; ++i) {
        const FolderId in = i % 3 == 0 ? program : setup;
        m.file(in, numbered(kinds[static_cast<size_t>(i) % kinds.size()], i),
               m.between(4, 900) * 1024);
    }
}

void photos(Maker& m, int64_t budget) {
    const FolderId dcim = m.folder(kRootFolder, "DCIM");
    FolderId roll = kRootFolder;
    for (int64_t i = 0; i < budget; ++i) {
        if (i % 200 == 0) roll = m.folder(dcim, numbered("%lldCANON", 100 + i / 200));
        m.file(roll, numbered("IMG_%04lld.JPG", 1 + i % 9999), m.between(1500, 6500) * 1024);
    }
    m.file(kRootFolder, "Описание.txt", 812);
}

// Folders of files under Russian names, as a user's copy of a documents folder.
void documents(Maker& m, int64_t budget, const std::vector<const char*>& folders,
               const std::vector<const char*>& kinds, int64_t kb) {
    std::vector<FolderId> in;
    for (const char* name : folders) in.push_back(m.folder(kRootFolder, name));
    for (int64_t i = 0; i < budget; ++i) {
        const FolderId to = in[static_cast<size_t>(i) % in.size()];
        m.file(to, numbered(kinds[static_cast<size_t>(i) % kinds.size()], i + 1),
               m.between(kb / 4, kb * 2) * 1024);
    }
}

void audio(ContentsWriter& w, std::mt19937& rng, const std::string& name) {
    const size_t dash = name.find(" — ");
    const std::string performer = dash == std::string::npos ? "" : name.substr(0, dash);
    const int tracks = std::uniform_int_distribution<int>(9, 16)(rng);
    for (int n = 1; n <= tracks; ++n)
        w.track({n, std::uniform_int_distribution<int64_t>(150, 330)(rng) * 75 + n,
                 "Песня " + std::to_string(n), performer});
}

store::VolumeFacts factsOf(const DemoDisk& d, int64_t n) {
    store::VolumeFacts f;
    f.kind = d.shape == DemoShape::Audio ? store::SourceKind::Drive : store::SourceKind::Image;
    f.origin =
        d.shape == DemoShape::Audio ? "/dev/sr0" : numbered("/home/user/images/disk%lld.iso", n);
    f.label = d.shape == DemoShape::Audio ? "" : numbered("DISK_%04lld", n);
    f.fileSystem = d.shape == DemoShape::Audio   ? "cdda"
                   : d.shape == DemoShape::Video ? "udf"
                                                 : "iso9660";
    f.capacity = d.shape == DemoShape::Video || d.shape == DemoShape::Backup ? kDvd : kCd;
    f.freeSpace = 0;
    return f;
}

}  // namespace

void fillDemoContents(const store::Database& db, const std::vector<DemoDisk>& disks, int64_t files,
                      unsigned seed) {
    // At most about a hundred files a disk: a large demo gives a share of its disks contents
    // (spread over the list), not a file or two to each.
    constexpr int64_t kFilesPerDisk = 100;
    const auto all = static_cast<int64_t>(disks.size());
    const int64_t readable = all - all / 5;
    if (files <= 0 || readable <= 0) return;
    const int64_t given = std::min(readable, std::max<int64_t>(1, files / kFilesPerDisk));
    std::vector<const DemoDisk*> chosen;
    int64_t k = 0, r = 0;
    for (const DemoDisk& d : disks) {
        if (++k % 5 == 0) continue;
        const int64_t at = r++;
        if ((at + 1) * given / readable != at * given / readable) chosen.push_back(&d);
    }
    // A DVD-Video's files and an audio CD's tracks are as many as they are: the others
    // share the files asked for.
    const auto free = std::count_if(chosen.begin(), chosen.end(), [](const DemoDisk* d) {
        return d->shape != DemoShape::Audio && d->shape != DemoShape::Video;
    });
    const int64_t perDisk = std::max<int64_t>(1, files / std::max<int64_t>(1, free));
    std::mt19937 rng(seed);
    for (const DemoDisk* disk : chosen) {
        const DemoDisk& d = *disk;
        ContentsWriter w(db, d.key, ContentsWriter::Sync::Off);
        w.volume(factsOf(d, d.key));
        // Written some years back, a few days apart.
        Maker m(w, rng, 1'100'000'000 + d.key * 86400 * 5 % 400'000'000);
        const int64_t budget = std::max<int64_t>(1, perDisk + m.between(-perDisk / 3, perDisk / 3));
        switch (d.shape) {
            case DemoShape::Audio:
                audio(w, rng, d.name);
                break;
            case DemoShape::Video:
                video(m, budget);
                break;
            case DemoShape::Installer:
                installer(m, budget);
                break;
            case DemoShape::Photos:
                photos(m, budget);
                break;
            case DemoShape::Documents:
                documents(
                    m, budget, {"Документы", "Таблицы", "Сканы", "Письма"},
                    {"Документ %lld.doc", "Отчёт %lld.xls", "Скан %lld.pdf", "Письмо %lld.txt"},
                    120);
                break;
            case DemoShape::Recordings:
                documents(m, budget, {"CD1", "CD2"}, {"%03lld.mp3", "Глава %03lld.mp3"}, 9000);
                break;
            case DemoShape::Backup:
                documents(m, budget, {"Мои документы", "Рабочий стол", "Почта", "Избранное"},
                          {"Файл %lld.doc", "архив_%lld.zip", "письмо %lld.eml", "ссылка %lld.url"},
                          400);
                break;
        }
        w.commit();
    }
}

}  // namespace tools
