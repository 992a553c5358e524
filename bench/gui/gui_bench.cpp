// Start-up to a shown main window with the example project; opening a project whose database has
// 5,000 messages with all of them in the list; filling and sorting the list core with 10,000 messages.
// Run under a display: xvfb-run -a build/release/bin/gui_bench
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <benchmark/benchmark.h>
#include <log4cpp/Category.hh>
#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/init.h>

#include <project/prompt.hpp>

#include "torvik_dlg.hpp"
#include "views.hpp"

namespace {

namespace fs = std::filesystem;
namespace app = torvik::studio::app;

fs::path g_dir;
fs::path g_example;

void WriteProject(int messages, const std::string& stem)
{
    {
        std::ofstream dbc(g_dir / (stem + ".dbc"), std::ios::binary);
        dbc << "VERSION \"\"\n\nNS_ :\n    BA_DEF_\n    BA_\n\nBS_:\n\nBU_: Ecu Gateway\n\n";
        for (int m = 0; m < messages; ++m) {
            dbc << "BO_ " << (0x100 + m) << " Message_" << (m * 7919) % messages << ": 8 Ecu\n";
            for (int s = 0; s < 8; ++s) {
                dbc << " SG_ Signal_" << m << '_' << s << " : " << s * 8 << "|8@1+ (1,0) [0|255] \"\" Gateway\n";
            }
            dbc << '\n';
        }
        dbc << "BA_DEF_ BO_  \"GenMsgCycleTime\" INT 0 65535;\nBA_DEF_  \"DBName\" STRING ;\n"
               "BA_DEF_DEF_  \"GenMsgCycleTime\" 100;\nBA_ \"DBName\" \"" << stem << "\";\n";
    }
    std::ofstream tsp(g_dir / (stem + ".tsp"), std::ios::binary);
    tsp << "[CAN]\r\nSetup3=6\r\nSetup4=6\r\n[Network]\r\nDbc_Names=" << stem << "\r\n[" << stem
        << "]\r\nAbsolute_Path=" << (g_dir / (stem + ".dbc")).string() << "\r\nRelative_Path=.\\" << stem
        << ".dbc\r\nSelected_messages=\r\n";
}

/// Runs the loop until `done` holds.
template <typename Done>
void RunUntil(Done done)
{
    while (!done()) {
        wxTheApp->Yield(true);
    }
}

void OpenAndShow(benchmark::State& state, const fs::path& project)
{
    auto& logger = log4cpp::Category::getInstance(app::kLoggerName);
    for (auto _ : state) {
        auto* window = new torvik::gui::CTorvikDlg(logger, g_dir, project.wstring());
        window->Show();
        window->OpenStartupProject();
        RunUntil([window] { return window->IsShownOnScreen() && window->core().HasProject(); });
        wxTheApp->Yield(true);  // the list paints its first rows
        state.PauseTiming();
        benchmark::DoNotOptimize(window->core().messages().RowCount());
        window->core().project()->SetModified(false);
        window->Destroy();
        wxTheApp->Yield(true);
        state.ResumeTiming();
    }
}

void BM_StartupWithExampleProject(benchmark::State& state)
{
    OpenAndShow(state, g_example);
}
BENCHMARK(BM_StartupWithExampleProject)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_OpenProjectWith5000Messages(benchmark::State& state)
{
    OpenAndShow(state, g_dir / "large.tsp");
}
BENCHMARK(BM_OpenProjectWith5000Messages)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_FillAndSortListOf10000Messages(benchmark::State& state)
{
    torvik::studio::NonInteractivePrompt prompt;
    torvik::studio::TS_Project project;
    project.AddDatabase(prompt, (g_dir / "huge.dbc").wstring());
    app::MessageList list(log4cpp::Category::getInstance(app::kLoggerName));
    list.SetProject(&project);
    for (auto _ : state) {
        list.Fill();
        list.SortBy(app::MessageList::kName);
        benchmark::DoNotOptimize(list.Text(0, app::MessageList::kName));
    }
    state.counters["rows"] = static_cast<double>(list.RowCount());
}
BENCHMARK(BM_FillAndSortListOf10000Messages)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    std::string pattern = (fs::temp_directory_path() / "gui_bench.XXXXXX").string();
    g_dir = ::mkdtemp(pattern.data());
    const fs::path source = fs::path(__FILE__).parent_path().parent_path().parent_path() / "examples";
    for (const char* name : {"simulation.tsp", "simulation.dbc"}) {
        fs::copy_file(source / name, g_dir / name);
    }
    g_example = g_dir / "simulation.tsp";
    WriteProject(5000, "large");
    WriteProject(10000, "huge");
    log4cpp::Category::getInstance(app::kLoggerName).setPriority(log4cpp::Priority::WARN);

    benchmark::Initialize(&argc, argv);
    wxApp::SetInstance(new wxApp);
    if (!wxEntryStart(argc, argv)) {
        std::fprintf(stderr, "gui_bench: no display; run it under xvfb-run\n");
        return 1;
    }
    {
        wxEventLoop loop;
        wxEventLoopActivator active(&loop);
        benchmark::RunSpecifiedBenchmarks();
    }
    wxEntryCleanup();
    benchmark::Shutdown();
    fs::remove_all(g_dir);
    return 0;
}
