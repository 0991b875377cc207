// The playlist pass over large Downloads folders, against a plain readdir of the same folder in the
// same run:
//   - 10,000 files that are not candidates (documents, pictures of other names, archives);
//   - 200 sets of 45 photos, first and last of each signed.
//   bench_playlist [--benchmark_filter=...]     ratio = pass time / readdir time (lower is faster)
#include "player/Playlist.h"

#include "PlayerFixtures.h"

#include <QDir>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <dirent.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>

namespace {

struct Folders {
    QTemporaryDir others;
    QTemporaryDir sets;
};

Folders& folders()
{
    static const std::unique_ptr<Folders> f = [] {
        auto made = std::make_unique<Folders>();
        const char* const kinds[] = {"IMG_%1.png", "report-%1.pdf", "archive-%1.zip", "kro_%1.txt",
                                     ".hidden-%1"};
        for (int i = 0; i < 10'000; ++i)
            qr::fixtures::writeFile(made->others.filePath(QString::fromLatin1(kinds[i % 5]).arg(i)), "x");
        const QString signedPhoto = made->sets.filePath("signed.tmp");
        qr::fixtures::makeJpeg(signedPhoto, qr::fixtures::signature("10.1"), {16, 16});
        QFile file(signedPhoto);
        file.open(QIODevice::ReadOnly);
        const QByteArray signedBytes = file.readAll();
        file.remove();
        for (int set = 1; set <= 200; ++set) {
            for (int i = 1; i <= 45; ++i)
                qr::fixtures::writeFile(made->sets.filePath(QStringLiteral("kro_%1_%2_01.jpg")
                                                                .arg(set, 3, 10, QLatin1Char('0'))
                                                                .arg(i, 3, 10, QLatin1Char('0'))),
                                        i == 1 || i == 45 ? signedBytes : QByteArray("x"));
        }
        return made;
    }();
    return *f;
}

std::size_t readdirCount(const QString& dir)
{
    std::size_t n = 0;
    DIR* d = ::opendir(QFile::encodeName(dir).constData());
    while (const dirent* e = ::readdir(d))
        n += e->d_name[0] != 0;
    ::closedir(d);
    return n;
}

void BM_BaselineReaddirOthers(benchmark::State& state)
{
    const QString dir = folders().others.path();
    for (auto _ : state)
        benchmark::DoNotOptimize(readdirCount(dir));
}

void BM_PassOthers(benchmark::State& state)
{
    qr::PlaylistRequest request;
    request.downloadsDir = folders().others.path();
    for (auto _ : state) {
        const qr::PlaylistResult r = qr::Playlist::generatePlaylist(request);
        if (!r.sortedList.isEmpty())
            state.SkipWithError("a file was taken for a photo");
    }
}

void BM_BaselineReaddirSets(benchmark::State& state)
{
    const QString dir = folders().sets.path();
    for (auto _ : state)
        benchmark::DoNotOptimize(readdirCount(dir));
}

void BM_PassSets(benchmark::State& state)
{
    qr::PlaylistRequest request;
    request.downloadsDir = folders().sets.path();
    for (auto _ : state) {
        const qr::PlaylistResult r = qr::Playlist::generatePlaylist(request);
        if (r.setIndexes.size() != 400)
            state.SkipWithError("not every set was found");
    }
}

BENCHMARK(BM_BaselineReaddirOthers)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PassOthers)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BaselineReaddirSets)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PassSets)->Unit(benchmark::kMillisecond)->UseRealTime();

class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> times;
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& r : runs) {
            if (!r.error_occurred && (r.run_type == Run::RT_Iteration || r.aggregate_name == "median"))
                times[r.run_name.function_name] = r.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    folders();
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto ratio = [&reporter](const char* pass, const char* baseline) {
        const auto p = reporter.times.find(pass);
        const auto b = reporter.times.find(baseline);
        if (p != reporter.times.end() && b != reporter.times.end() && b->second > 0)
            std::printf("  %-16s %8.1f x %s (%.1f ms)\n", pass, p->second / b->second, baseline, p->second);
    };
    std::printf("\nratios (pass time / readdir time of the same folder; lower is faster):\n");
    ratio("BM_PassOthers", "BM_BaselineReaddirOthers");
    ratio("BM_PassSets", "BM_BaselineReaddirSets");
    benchmark::Shutdown();
    return 0;
}
