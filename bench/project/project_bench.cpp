// Opening, saving and building the user block of a large project: a generated DBC file of 5,000
// messages with 20 signals each, 2,000 of them selected and every signal of those set.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include <benchmark/benchmark.h>

#include <platform/text.hpp>
#include <project/opening.hpp>
#include <project/ts_project.hpp>

namespace {

namespace fs = std::filesystem;
using namespace torvik::studio;
using torvik::platform::FromUtf8;

constexpr int kMessages = 5000;
constexpr int kSignals = 20;
constexpr int kSelectedEvery = 5;  // 2 of every 5 messages are selected
constexpr int kSelectedPerGroup = 2;

void WriteDbc(const fs::path& path)
{
    std::ofstream out(path, std::ios::binary);
    out << "VERSION \"\"\n\nNS_ :\n    CM_\n    BA_DEF_\n    BA_\n    VAL_\n\nBS_:\n\nBU_: Ecu Gateway Dash\n\n";
    for (int m = 0; m < kMessages; ++m) {
        out << "BO_ " << (0x100 + m) << " Message_" << m << ": 8 Ecu\n";
        for (int s = 0; s < kSignals; ++s) {
            out << " SG_ Signal_" << m << '_' << s << " : " << s * 3 << "|3@1+ (0.5,-1) [-1|2.5] \"unit\" Gateway,Dash\n";
        }
        out << '\n';
    }
    out << "BA_DEF_ BO_  \"GenMsgCycleTime\" INT 0 65535;\n"
           "BA_DEF_ BO_  \"GenMsgSendType\" ENUM  \"Cyclic\",\"OnChange\";\n"
           "BA_DEF_ SG_  \"GenSigStartValue\" INT 0 7;\n"
           "BA_DEF_  \"DBName\" STRING ;\n"
           "BA_DEF_DEF_  \"GenMsgCycleTime\" 100;\n"
           "BA_DEF_DEF_  \"GenSigStartValue\" 0;\n"
           "BA_ \"DBName\" \"Large\";\n";
    for (int m = 0; m < kMessages; ++m) {
        out << "CM_ BO_ " << (0x100 + m) << " \"Message number " << m << "\";\n";
        out << "BA_ \"GenMsgCycleTime\" BO_ " << (0x100 + m) << ' ' << 10 + m % 90 << ";\n";
        out << "BA_ \"GenSigStartValue\" SG_ " << (0x100 + m) << " Signal_" << m << "_0 1;\n";
        out << "VAL_ " << (0x100 + m) << " Signal_" << m << "_1 0 \"Off\" 1 \"On\" ;\n";
    }
}

// The generated files, made once for all benchmarks and removed at exit.
struct Files {
    Files()
    {
        std::string pattern = (fs::temp_directory_path() / "project_bench.XXXXXX").string();
        dir = ::mkdtemp(pattern.data());
        dbc = dir / "large.dbc";
        tsp = dir / "large.tsp";
        WriteDbc(dbc);

        TS_Project project;
        NonInteractivePrompt prompt;
        if (project.AddDatabase(prompt, FromUtf8(dbc.string())) != 0) {
            std::fprintf(stderr, "cannot read the generated DBC file\n");
            std::abort();
        }
        int index = 0;
        for (auto& [id, message] : project.GetDatabase(0)->network->messages) {
            if (index++ % kSelectedEvery >= kSelectedPerGroup) {
                continue;
            }
            message->channelMask = static_cast<std::uint8_t>(1u << (index % 4));
            int s = 0;
            for (auto& [name, signal] : message->signals) {
                signal->rawValue = (signal->initialRawValue + 1 + static_cast<unsigned>(s++ % 6)) & 7;
            }
        }
        project.SetChannelSetup(3, -1, kSetupFd2000);
        project.SetChannelSetup(4, -1, kSetupFd2000);
        if (!project.SaveProject(FromUtf8(tsp.string()))) {
            std::fprintf(stderr, "cannot save the generated project\n");
            std::abort();
        }
    }
    ~Files()
    {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }

    fs::path dir;
    fs::path dbc;
    fs::path tsp;
};

const Files& GetFiles()
{
    static const Files files;
    return files;
}

std::unique_ptr<TS_Project> OpenLarge()
{
    NonInteractivePrompt prompt;
    ProjectOpening opening(prompt, false);
    auto project = opening.Run(FromUtf8(GetFiles().tsp.string()));
    if (!project) {
        std::fprintf(stderr, "cannot open the generated project: %s\n",
                     torvik::platform::ToUtf8(opening.failure()).c_str());
        std::abort();
    }
    project->GiveChannelsTheirSetups();
    return project;
}

void BM_ParseDbcAlone(benchmark::State& state)
{
    const std::wstring path = FromUtf8(GetFiles().dbc.string());
    for (auto _ : state) {
        TS_DatabaseFile database;
        if (database.Load(path) != 0) {
            state.SkipWithError("parse failed");
        }
        benchmark::DoNotOptimize(database.network->messages.size());
    }
}
BENCHMARK(BM_ParseDbcAlone)->Unit(benchmark::kMillisecond);

void BM_OpenProject(benchmark::State& state)
{
    GetFiles();
    for (auto _ : state) {
        auto project = OpenLarge();
        benchmark::DoNotOptimize(project->GetDatabaseCount());
    }
}
BENCHMARK(BM_OpenProject)->Unit(benchmark::kMillisecond);

void BM_SaveProject(benchmark::State& state)
{
    auto project = OpenLarge();
    const std::wstring path = FromUtf8((GetFiles().dir / "saved.tsp").string());
    for (auto _ : state) {
        if (!project->SaveProject(path)) {
            state.SkipWithError("save failed");
        }
    }
    state.counters["bytes"] = static_cast<double>(fs::file_size(GetFiles().dir / "saved.tsp"));
}
BENCHMARK(BM_SaveProject)->Unit(benchmark::kMillisecond);

void BM_BuildUserBlock(benchmark::State& state)
{
    auto project = OpenLarge();
    std::int32_t length = 0;
    for (auto _ : state) {
        length = project->BuildUserBlock();
        benchmark::DoNotOptimize(length);
    }
    if (length < 0) {
        state.SkipWithError("the image does not fit");
    }
    state.counters["bytes"] = length;
}
BENCHMARK(BM_BuildUserBlock)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
