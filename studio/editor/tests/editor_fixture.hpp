// Reads the editor fixture database and captures the log lines the helpers write.
#pragma once

#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>

#include <gtest/gtest.h>
#include <log4cpp/Category.hh>
#include <log4cpp/OstreamAppender.hh>
#include <log4cpp/PatternLayout.hh>

#include <editor/item_helper.hpp>
#include <project/ts_model.hpp>

namespace torvik::studio::test {

class EditorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* source = std::getenv("TORVIK_SOURCE_DIR");
        ASSERT_NE(source, nullptr);
        const std::string path = std::string(source) + "/studio/editor/tests/data/editor.dbc";
        ASSERT_EQ(database_.Load(std::wstring(path.begin(), path.end())), 0);
        auto* appender = new log4cpp::OstreamAppender("capture", &log_);
        auto* layout = new log4cpp::PatternLayout();
        layout->setConversionPattern("%m%n");
        appender->setLayout(layout);
        logger_.removeAllAppenders();
        logger_.setAdditivity(false);
        logger_.setPriority(log4cpp::Priority::DEBUG);
        logger_.addAppender(appender);
        grid_.SetChangeHandler([this] { ++changes_; });
    }
    void TearDown() override { logger_.removeAllAppenders(); }

    std::shared_ptr<TS_Message> Message(std::uint32_t id) { return database_.network->messages.at(id); }
    std::shared_ptr<TS_Signal> Signal(std::uint32_t id, const std::wstring& name)
    {
        return Message(id)->signals.at(name);
    }
    TS_MFCPropertyGridProperty& Item(const std::wstring& name)
    {
        auto* item = grid_.Find(name);
        if (item == nullptr) {
            ADD_FAILURE() << "no item " << std::string(name.begin(), name.end());
            static TS_MFCPropertyGridProperty none(PropertyKind::Text, L"", std::wstring(), L"");
            return none;
        }
        return *item;
    }
    /// The names of a group's items in order.
    std::vector<std::wstring> Names(const std::wstring& group)
    {
        std::vector<std::wstring> names;
        if (auto* g = grid_.Find(group)) {
            for (const auto& child : g->children()) {
                names.push_back(child->name());
            }
        }
        return names;
    }
    bool Logged(const std::string& line) const { return log_.str().find(line + "\n") != std::string::npos; }

    TS_DatabaseFile database_;
    PropertyGrid grid_;
    log4cpp::Category& logger_ = log4cpp::Category::getInstance("editor_test");
    std::ostringstream log_;
    int changes_ = 0;
};

}  // namespace torvik::studio::test
