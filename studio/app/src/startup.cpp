#include <app/startup.hpp>

#include <device/device_dialog.hpp>
#include <platform/install_layout.hpp>
#include <platform/text.hpp>

#include <cstdlib>
#include <string>
#include <system_error>
#include <fstream>

#include <log4cpp/BasicLayout.hh>
#include <log4cpp/Category.hh>
#include <log4cpp/Configurator.hh>
#include <log4cpp/OstreamAppender.hh>
#include <log4cpp/PropertyConfigurator.hh>
#include <log4cpp/RollingFileAppender.hh>

#include <iostream>

#include <platform/profile.hpp>

namespace torvik::studio::app {

namespace {

constexpr const wchar_t* kSection = L"TorvikApp";

bool Writable(const std::filesystem::path& file)
{
    // Opening for appending creates nothing new when the file is there and tells whether it can be written.
    const bool existed = std::filesystem::exists(file);
    std::ofstream probe(file, std::ios::app);
    const bool ok = probe.is_open();
    probe.close();
    if (ok && !existed) {
        std::error_code ignored;
        std::filesystem::remove(file, ignored);
    }
    return ok;
}

}  // namespace

bool ConfigureLogging(const std::filesystem::path& programFolder)
{
    std::filesystem::path properties = programFolder / "log4cpp.properties";
    std::string logFile = "torvikStudio.log";
    if (platform::IsInstalledProgram(programFolder)) {
        // An installed program writes nothing under its prefix: the user's own properties, else the shipped
        // ones; the log goes to the user's state folder, which the shipped properties name as
        // ${TORVIK_LOG_DIR}.
        std::error_code ec;
        const auto config = platform::UserConfigFolder();
        const auto own = config / "log4cpp.properties";
        properties = !config.empty() && std::filesystem::is_regular_file(own, ec)
                         ? own
                         : platform::DataFile(programFolder, "log4cpp.properties");
        std::filesystem::path logFolder = ".";
        if (const auto state = platform::UserStateFolder(); !state.empty()) {
            std::filesystem::create_directories(state, ec);
            if (std::filesystem::is_directory(state, ec)) {
                logFolder = state;
            }
        }
        logFile = (logFolder / logFile).string();
        ::setenv("TORVIK_LOG_DIR", logFolder.c_str(), 0);
    }
    bool useDefault = !std::filesystem::is_regular_file(properties);
    if (!useDefault) {
        try {
            log4cpp::PropertyConfigurator::configure(properties.string());
        } catch (const log4cpp::ConfigureFailure&) {
            useDefault = true;
        }
    }
    log4cpp::Category& root = log4cpp::Category::getRoot();
    log4cpp::Category& program = log4cpp::Category::getInstance(kLoggerName);
    if (useDefault) {
        root.removeAllAppenders();
        program.removeAllAppenders();
        root.setPriority(log4cpp::Priority::DEBUG);
        // Stands in for the debugger output of the original platform.
        auto* debugOutput = new log4cpp::OstreamAppender("win32Debug", &std::cerr);
        debugOutput->setLayout(new log4cpp::BasicLayout());
        root.addAppender(debugOutput);
        auto* file = new log4cpp::RollingFileAppender("LOGFILE_LOOGERNAME", logFile, 0xA00000, 1, true, 0644);
        file->setLayout(new log4cpp::BasicLayout());
        file->setThreshold(log4cpp::Priority::INFO);
        program.setPriority(log4cpp::Priority::DEBUG);
        program.addAppender(file);
        program.info("log4cpp.properties file not found, default configuration loaded.");
    }
    root.debug("root logger loaded");
    program.debug("TorvikStudioLogger logger loaded");
    return useDefault;
}

void ShutdownLogging()
{
    log4cpp::Category::shutdown();
}

std::filesystem::path SettingsPath(const std::filesystem::path& programFolder)
{
    const std::filesystem::path beside = programFolder / "Torvik Studio.ini";
    // A build-folder program keeps its settings beside itself; an installed one never writes under its prefix.
    if (!programFolder.empty() && !platform::IsInstalledProgram(programFolder) && Writable(beside)) {
        return beside;
    }
    const std::filesystem::path folder = platform::UserConfigFolder();
    if (folder.empty()) {
        return beside;
    }
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    return folder / "Torvik Studio.ini";
}

namespace {

bool ParseInt(std::wstring_view text, int& value)
{
    if (text.empty() || text.size() > 10) {
        return false;
    }
    std::size_t at = text[0] == L'-' ? 1 : 0;
    if (at == text.size()) {
        return false;
    }
    long long v = 0;
    for (; at < text.size(); ++at) {
        if (text[at] < L'0' || text[at] > L'9') {
            return false;
        }
        v = v * 10 + (text[at] - L'0');
    }
    value = static_cast<int>(text[0] == L'-' ? -v : v);
    return v <= 0x7FFFFFFF;
}

}  // namespace

bool Settings::Set(std::wstring_view key, std::wstring_view value, std::wstring& error)
{
    int number = 0;
    if (key == L"SetAutoNotManual") {
        if (!ParseInt(value, number)) {
            error = L"SetAutoNotManual takes a number (0: manual port, else automatic)";
            return false;
        }
        autoNotManual = number;
    } else if (key == L"ManualSetComPort") {
        if (!ParseInt(value, number) || number < -1) {
            error = L"ManualSetComPort takes a COM number, or -1 for none";
            return false;
        }
        manualComPort = number;
    } else if (key == L"ManualSetComPortPath") {
        manualComPortPath = value;
    } else if (key == L"SetFWaddress") {
        updateAddress = value;
    } else if (key == L"SetFWCAFile") {
        updateCaFile = value;
    } else {
        error = L"no setting '" + std::wstring(key) + L"' (SetAutoNotManual, ManualSetComPort, ManualSetComPortPath, "
                L"SetFWaddress, SetFWCAFile)";
        return false;
    }
    return true;
}

std::wstring Settings::Get(std::wstring_view key) const
{
    if (key == L"SetAutoNotManual") {
        return std::to_wstring(autoNotManual);
    }
    if (key == L"ManualSetComPort") {
        return std::to_wstring(manualComPort);
    }
    if (key == L"ManualSetComPortPath") {
        return manualComPortPath;
    }
    if (key == L"SetFWaddress") {
        return updateAddress;
    }
    if (key == L"SetFWCAFile") {
        return updateCaFile;
    }
    return {};
}

void Settings::Load(const platform::ProfileStore& store)
{
    autoNotManual = store.GetInt(kSection, L"SetAutoNotManual", autoNotManual);
    updateAddress = store.GetString(kSection, L"SetFWaddress").value_or(updateAddress);
    manualComPort = store.GetInt(kSection, L"ManualSetComPort", manualComPort);
    manualComPortPath = store.GetString(kSection, L"ManualSetComPortPath").value_or(manualComPortPath);
    updateCaFile = store.GetString(kSection, L"SetFWCAFile").value_or(updateCaFile);
}

void Settings::Save(platform::ProfileStore& store) const
{
    store.WriteString(kSection, L"SetAutoNotManual", std::to_wstring(autoNotManual));
    store.WriteString(kSection, L"SetFWaddress", updateAddress);
    store.WriteString(kSection, L"ManualSetComPort", std::to_wstring(manualComPort));
    // A file that never named a port by path stays as it was.
    if (!manualComPortPath.empty() || store.GetString(kSection, L"ManualSetComPortPath")) {
        store.WriteString(kSection, L"ManualSetComPortPath", manualComPortPath);
    }
    if (!updateCaFile.empty() || store.GetString(kSection, L"SetFWCAFile")) {
        store.WriteString(kSection, L"SetFWCAFile", updateCaFile);
    }
}

DeviceSettings Settings::ForDevice() const
{
    DeviceSettings device;
    device.port = {autoNotManual != 0, manualComPort, platform::ToUtf8(manualComPortPath)};
    device.update_address = platform::ToUtf8(updateAddress);
    device.update_ca_file = platform::ToUtf8(updateCaFile);
    return device;
}

}  // namespace torvik::studio::app
