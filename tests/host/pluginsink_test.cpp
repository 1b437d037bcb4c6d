// What a plug-in's records, summaries and questions become on the engine's side, and what a
// record the plug-in got wrong does not become.
#include "dialoguebox.h"
#include "hostfakes.h"
#include "pluginabicheck.h"
#include "pluginsink.h"
#include "support/tablerow.h"

#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <tuple>

namespace
{

using hosttest::LineSink;

struct DeliverRow {
    const char* name;
    uint32_t kind;
    // The record's fields; std::nullopt stands for a null pointer. The array handed over has
    // exactly these entries, so a read beyond them is caught by the address sanitizer.
    std::vector<std::optional<std::string>> fields;
    uint32_t count; // what the plug-in says the count is
    int answer;     // what the engine answers
    int32_t expect; // what the plug-in is told
    std::vector<std::string> lines;
    bool nullArray = false;
};
POSTWATCH_ROW_PRINTS_NAME(DeliverRow)

std::vector<std::optional<std::string>> Fields(int n)
{
    std::vector<std::optional<std::string>> f;
    for (int i = 0; i < n; ++i)
        f.push_back("f" + std::to_string(i));
    return f;
}

const std::string kExchangeLine = "exchange f0|f1|f2|f3|f4|f5|f6|f7|f8";
const std::string kWebMailLine = "webmail f0|f1|f2|f3|f4|f5|f6|f7";

const DeliverRow kDeliverRows[] = {
    {"ExchangeRecordInFieldOrder", 3, Fields(9), 9, 1, 1, {kExchangeLine}},
    {"WebMailRecordInFieldOrder", 4, Fields(8), 8, 1, 1, {kWebMailLine}},
    {"NotStoredPassesThrough", 4, Fields(8), 8, 2, 2, {kWebMailLine}},
    {"FrontGonePassesThrough", 3, Fields(9), 9, 0, 0, {kExchangeLine}},
    {"NullFieldIsEmptyText",
     4,
     {"u", std::nullopt, "1.00K", "d", "f", "Web", " ", "No"},
     8,
     1,
     1,
     {"webmail u||1.00K|d|f|Web| |No"}},
    {"ExchangeWithWebMailCountRefused", 3, Fields(8), 8, 1, 2, {}},
    {"WebMailWithExchangeCountRefused", 4, Fields(9), 9, 1, 2, {}},
    {"ExchangeShortCountRefused", 3, Fields(2), 2, 1, 2, {}},
    {"ZeroCountRefused", 4, Fields(1), 0, 1, 2, {}},
    {"HugeCountRefused", 4, Fields(8), 0xffffffffu, 1, 2, {}},
    {"SummaryKindIsNoRecord", 5, Fields(3), 3, 1, 2, {}},
    {"MailClientKindIsNoRecord", 1, Fields(10), 10, 1, 2, {}},
    {"NoFieldArrayRefused", 4, {}, 8, 1, 2, {}, true},
};

class Deliver : public ::testing::TestWithParam<DeliverRow>
{
};

TEST_P(Deliver, Maps)
{
    const DeliverRow& row = GetParam();
    LineSink engine(row.answer);
    PluginSink bridge(&engine);
    auto fields = std::make_unique<const char*[]>(row.fields.size() + 0);
    for (size_t i = 0; i < row.fields.size(); ++i)
        fields[i] = row.fields[i] ? row.fields[i]->c_str() : nullptr;
    const PwSink* sink = bridge.Sink();
    EXPECT_EQ(sink->deliver(sink->ctx, row.kind, row.nullArray ? nullptr : fields.get(), row.count),
              row.expect);
    EXPECT_EQ(engine.Lines(), row.lines);
}

INSTANTIATE_TEST_SUITE_P(Table, Deliver, ::testing::ValuesIn(kDeliverRows),
                         [](const auto& info) { return std::string(info.param.name); });

// Both linked libraries speak this program's version; one of another version is refused
// at start-up, by name.
TEST(PluginAbiCheck, RefusesALibraryOfAnotherVersion)
{
    EXPECT_EQ(PortalpostAbiVersion(), 2u);
    EXPECT_EQ(MapiprobeAbiVersion(), 2u);
    EXPECT_EQ(PluginAbiMismatch(), "");
    const uint32_t v = POSTWATCH_PLUGIN_ABI_VERSION;
    for (const auto& [portalpost, mapiprobe, names] :
         std::vector<std::tuple<uint32_t, uint32_t, std::string>>{
             {v, v, ""},
             {1, v, "libportalpost speaks version 1 "},
             {v, 1, "libmapiprobe speaks version 1 "},
             {v + 1, v, "libportalpost speaks version 3 "}}) {
        const std::string said = PluginAbiMismatch(portalpost, mapiprobe);
        if (names.empty())
            EXPECT_EQ(said, "");
        else
            EXPECT_NE(said.find(names), std::string::npos) << said;
    }
}

TEST(PluginSink, SummaryCarriesCodeCountAndAccount)
{
    LineSink engine;
    PluginSink bridge(&engine);
    const PwSink* sink = bridge.Sink();
    EXPECT_EQ(sink->result(sink->ctx, 4, 1, "Local"), 1);
    EXPECT_EQ(sink->result(sink->ctx, 4, -3, nullptr), 1); // a count below zero is none
    EXPECT_EQ(engine.Lines(), (std::vector<std::string>{"summary 4 1 Local", "summary 4 0 "}));
}

// Once retargeted, the former sink hears nothing more; without a target the plug-in is told
// the front is gone.
TEST(PluginSink, RetargetMovesLaterCalls)
{
    LineSink first;
    LineSink second;
    PluginSink bridge(&first);
    const PwSink* sink = bridge.Sink();
    sink->result(sink->ctx, 4, 1, "a");
    bridge.Retarget(&second);
    sink->result(sink->ctx, 4, 1, "b");
    bridge.Retarget(nullptr);
    EXPECT_EQ(sink->result(sink->ctx, 4, 1, "c"), PW_SINK_FRONT_GONE);
    const char* const fields[8] = {"", "", "", "", "", "", "", ""};
    EXPECT_EQ(sink->deliver(sink->ctx, 4, fields, 8), PW_SINK_FRONT_GONE);
    EXPECT_EQ(first.Lines(), std::vector<std::string>{"summary 4 1 a"});
    EXPECT_EQ(second.Lines(), std::vector<std::string>{"summary 4 1 b"});
}

// A question reaches the user's message box with the standard styles, and the button
// pressed comes back.
class RecordingDialogue final : public DialogueBackend
{
public:
    int Show(const std::string& text, const std::string& caption, void*, int buttons,
             int icon) override
    {
        shown += caption + ": " + text + " " + std::to_string(buttons) + "/" +
                 std::to_string(icon) + ";";
        return answer;
    }
    std::string shown;
    int answer = kDialogueIdRetry;
};

TEST(PluginSink, AskShowsAndAnswers)
{
    auto dialogue = std::make_shared<RecordingDialogue>();
    SetDialogueBackend(dialogue);
    PluginSink bridge(nullptr); // questions need no target
    const PwSink* sink = bridge.Sink();
    EXPECT_EQ(
        sink->ask(sink->ctx, "Try again?", "Log-on", PW_ASK_RETRYCANCEL, PW_ASK_ICON_QUESTION),
        PW_ANSWER_RETRY);
    dialogue->answer = kDialogueIdCancel;
    EXPECT_EQ(
        sink->ask(sink->ctx, "Try again?", "Log-on", PW_ASK_RETRYCANCEL, PW_ASK_ICON_QUESTION),
        PW_ANSWER_CANCEL);
    dialogue->answer = kDialogueIdOk;
    EXPECT_EQ(sink->ask(sink->ctx, nullptr, "Note", 77, PW_ASK_ICON_INFORMATION), PW_ANSWER_OK);
    SetDialogueBackend(nullptr);
    EXPECT_EQ(dialogue->shown, "Log-on: Try again? 5/32;Log-on: Try again? 5/32;Note:  0/64;");
}

} // namespace
