#include "dialuplink.h"
#include "networkmanagerclient.h"
#include "nmmockbus.h"
#include "support/tempdir.h"

#include <QStringList>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace
{

using Status = NetworkBackend::DialResult::Status;
constexpr uint32_t kLan = NetworkBackend::kAliveLan;
constexpr uint32_t kWan = NetworkBackend::kAliveWan;

// NMState values.
constexpr uint32_t kAsleep = 10;
constexpr uint32_t kDown = 20;
constexpr uint32_t kConnecting = 40;
constexpr uint32_t kLocal = 50;
constexpr uint32_t kSite = 60;
constexpr uint32_t kGlobal = 70;

// ActivateConnection replacements: the manager refuses; the link drops while dialling; the
// link never comes up.
const char* const kRefuse =
    "raise dbus.exceptions.DBusException('No suitable device found for this connection.', "
    "name='org.freedesktop.NetworkManager.UnknownDevice')";
const char* const kDrop = "ret = self.activate_connection(self, args[0], args[1], args[2])\n"
                          "objects[ret].Set('org.freedesktop.NetworkManager.Connection.Active', "
                          "'State', dbus.UInt32(4))";
const char* const kHang = "ret = self.activate_connection(self, args[0], args[1], args[2])\n"
                          "objects[ret].Set('org.freedesktop.NetworkManager.Connection.Active', "
                          "'State', dbus.UInt32(1))";

// One private bus with the NetworkManager mock for the whole suite (starting it costs about
// half a second); every scenario starts from the template's reset state.
class NetworkManagerTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        bus_ = new NmMockBus;
        if (!bus_->Start(true, &startError_)) {
            delete bus_;
            bus_ = nullptr;
        }
    }
    static void TearDownTestSuite()
    {
        delete bus_;
        bus_ = nullptr;
    }
    void SetUp() override { ASSERT_NE(bus_, nullptr) << startError_; }

    // The fallback must not answer for NetworkManager here: its /proc has no routes.
    NetworkManagerClient::Options Options(int activateTimeoutMs = 3000) const
    {
        NetworkManagerClient::Options options;
        options.busAddress = bus_->Address();
        options.procRoot = emptyProc_.Path();
        options.activateTimeoutMs = activateTimeoutMs;
        return options;
    }

    // Resets the mock to `state` with the active connections of `spec`, words separated by
    // spaces: a connection type (eth, wifi, dun and panu for bluetooth, or NetworkManager's
    // own type name), with '*' after it for the primary connection and '~' before it for
    // one still activating. A profile "Mobile ISP" of type gsm is always there.
    // Returns the active connections' paths in order.
    QStringList Scenario(uint32_t state, const QString& spec)
    {
        bus_->Reset();
        bus_->AddProfile("Mobile ISP", "gsm");
        QStringList paths;
        for (QString word : spec.split(' ', Qt::SkipEmptyParts)) {
            const bool primary = word.endsWith('*');
            const bool activating = word.startsWith('~');
            word.remove('*').remove('~');
            const QString id = QString("%1 %2").arg(word).arg(paths.size());
            QString profile;
            if (word == "dun" || word == "panu")
                profile = bus_->AddProfile(id, "bluetooth", {{"type", word}}, "bluetooth");
            else
                profile = bus_->AddProfile(id, word == "eth"    ? "802-3-ethernet"
                                               : word == "wifi" ? "802-11-wireless"
                                                                : word);
            paths << bus_->AddActive(profile, QString("a%1").arg(paths.size()), activating ? 1 : 2);
            if (primary)
                bus_->SetPrimary(paths.back());
        }
        bus_->SetState(state);
        return paths;
    }

    static NmMockBus* bus_;
    static std::string startError_;
    TempDir emptyProc_;
};

NmMockBus* NetworkManagerTest::bus_ = nullptr;
std::string NetworkManagerTest::startError_;

TEST_F(NetworkManagerTest, AliveFlags)
{
    struct Row {
        const char* label;
        uint32_t state;
        const char* actives;
        uint32_t expected;
    };
    const Row rows[] = {
        {"connected, no connection named", kGlobal, "", kLan},
        {"disconnected", kDown, "eth*", 0},
        {"connecting", kConnecting, "~gsm*", 0},
        {"asleep", kAsleep, "", 0},
        {"local only still counts", kLocal, "eth*", kLan},
        {"site", kSite, "wifi*", kLan},
        {"mobile broadband is dial-up", kGlobal, "gsm*", kWan},
        {"CDMA is dial-up", kGlobal, "cdma*", kWan},
        {"PPPoE is dial-up, primary or not", kGlobal, "pppoe", kWan},
        {"bluetooth DUN is dial-up", kGlobal, "dun*", kWan},
        {"bluetooth PAN is a LAN", kGlobal, "panu*", kLan},
        {"ethernet primary, a modem also up", kGlobal, "eth* gsm", kLan},
        {"modem primary, wifi also up", kGlobal, "gsm* wifi", kWan},
        {"modem primary beside a container bridge", kGlobal, "gsm* bridge", kWan},
        {"no primary: the activated ones decide", kGlobal, "eth gsm", kLan | kWan},
        {"loopback does not make a LAN", kGlobal, "loopback gsm*", kWan},
        {"a VPN rides on the modem", kGlobal, "gsm* vpn", kWan},
        {"a modem still dialling is not up", kGlobal, "wifi* ~gsm", kLan},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        Scenario(row.state, row.actives);
        NetworkManagerClient client(Options());
        EXPECT_TRUE(client.ManagerPresent());
        EXPECT_EQ(client.AliveFlags(), row.expected);
    }
}

TEST_F(NetworkManagerTest, EntriesAreProfileNames)
{
    Scenario(kGlobal, "");
    bus_->AddProfile("Home", "802-11-wireless");
    bus_->AddProfile("lo", "loopback");
    bus_->AddProfile("Home", "802-3-ethernet");
    bus_->AddProfile("Provider \xc3\xa9t\xc3\xa9", "pppoe");
    NetworkManagerClient client(Options());
    EXPECT_EQ(client.ListEntries(),
              (std::vector<std::string>{"Mobile ISP", "Home", "Provider \xc3\xa9t\xc3\xa9"}));
    bus_->Reset();
    EXPECT_TRUE(client.ListEntries().empty());
}

TEST_F(NetworkManagerTest, Dial)
{
    struct Row {
        const char* label;
        const char* activate; // replacement of ActivateConnection; "" = the template's
        std::string entry;
        Status expected;
        std::string errorPart;
    };
    const Row rows[] = {
        {"known profile comes up", "", "Mobile ISP", Status::Connected, ""},
        {"unknown profile", "", "Nowhere", Status::NoEntry, ""},
        {"empty entry", "", "", Status::NoEntry, ""},
        {"manager refuses", kRefuse, "Mobile ISP", Status::Failed, "No suitable device found"},
        {"link drops while dialling", kDrop, "Mobile ISP", Status::Failed, "was refused"},
        {"link never comes up", kHang, "Mobile ISP", Status::Failed, "within 1 second."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        Scenario(kDown, "");
        if (*row.activate != '\0')
            bus_->ReplaceActivate(row.activate);
        NetworkManagerClient client(Options(400));

        const NetworkBackend::DialResult result = client.Dial(row.entry);
        EXPECT_EQ(result.status, row.expected);
        // What came up is reported; nothing is left half-open.
        EXPECT_EQ(bus_->ActivePaths().join(""), QString::fromStdString(result.connection));
        if (row.errorPart.empty())
            EXPECT_EQ(result.errorText, "");
        else
            EXPECT_NE(result.errorText.find("\"Mobile ISP\": "), std::string::npos);
        EXPECT_NE(result.errorText.find(row.errorPart), std::string::npos) << result.errorText;
    }
}

TEST_F(NetworkManagerTest, FindConnectedDialupAndHangUp)
{
    struct Row {
        const char* label;
        const char* actives;
        int found; // index of the connection found, -1 = none
    };
    const Row rows[] = {
        {"nothing active", "", -1},
        {"ethernet only", "eth*", -1},
        {"modem up", "gsm*", 0},
        {"modem still dialling", "~gsm", -1},
        {"ethernet and PPPoE", "eth* pppoe", 1},
        {"bluetooth PAN is no dial-up", "panu", -1},
        {"first of two modems", "cdma gsm", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        QStringList paths = Scenario(kGlobal, row.actives);
        NetworkManagerClient client(Options());
        const std::string found = client.FindConnectedDialup();
        EXPECT_EQ(found, row.found < 0 ? std::string() : paths[row.found].toStdString());
        // Hanging up takes exactly that one down, and again (or nothing) is no error.
        EXPECT_TRUE(client.HangUp(found));
        EXPECT_TRUE(client.HangUp(found));
        if (row.found >= 0)
            paths.removeAt(row.found);
        EXPECT_EQ(bus_->ActivePaths(), paths);
    }
}

// The test before checks, end to end over the manager: how many connections are up after
// the test, and after the worker hangs up whatever was handed over.
TEST_F(NetworkManagerTest, EnsureNetworkEdgeCases)
{
    struct Row {
        const char* label;
        const char* use;    // UseConnection
        const char* hangUp; // AutoHangupAfterCheck
        const char* exist;  // UseExistDialup
        std::string entry;
        uint32_t state;
        const char* actives;
        const char* activate;
        int expected;
        int upAfterTest;
        int upAfterHangUp;
        bool textShown;
    };
    const Row rows[] = {
        {"always online: no dial though down", "1", "1", "1", "Mobile ISP", kDown, "", "", 1, 0, 0,
         false},
        {"LAN up: dial-up line never hung up", "3", "1", "1", "Mobile ISP", kGlobal, "eth* gsm", "",
         1, 2, 2, false},
        {"dial-up only: adopted and hung up", "3", "1", "1", "Mobile ISP", kGlobal, "gsm*", "", 1,
         1, 0, false},
        {"dial-up beside a container bridge: adopted and hung up", "3", "1", "1", "Mobile ISP",
         kGlobal, "gsm* bridge", "", 1, 2, 1, false},
        {"dial-up only, adopting off", "3", "1", "0", "Mobile ISP", kGlobal, "gsm*", "", 1, 1, 1,
         false},
        {"dial-up only, hang-up off", "3", "0", "1", "Mobile ISP", kGlobal, "gsm*", "", 1, 1, 1,
         false},
        {"dial-up only, system test mode", "0", "1", "1", "Mobile ISP", kGlobal, "gsm*", "", 1, 1,
         1, false},
        {"down: dialled and hung up", "3", "1", "1", "Mobile ISP", kDown, "", "", 1, 1, 0, false},
        {"down: dialled, hang-up off", "3", "0", "1", "Mobile ISP", kDown, "", "", 1, 1, 1, false},
        {"down: dial refused, text shown", "3", "1", "1", "Mobile ISP", kDown, "", kRefuse, 0, 0, 0,
         true},
        {"down: unknown entry, quiet", "3", "1", "1", "Nowhere", kDown, "", "", 0, 0, 0, false},
        {"down, system test mode: no dial", "0", "1", "1", "Mobile ISP", kDown, "", "", 0, 0, 0,
         false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        Scenario(row.state, row.actives);
        if (*row.activate != '\0')
            bus_->ReplaceActivate(row.activate);
        // On a plain thread without an event loop, as the engine's worker calls it.
        int result = -1, texts = 0;
        qsizetype upAfterTest = -1;
        std::thread worker([&] {
            NetworkManagerClient client(Options());
            DialupLink link(client, [&texts](const std::string&) { ++texts; });
            int64_t handle = -1;
            result = link.EnsureNetwork({row.use, row.entry, row.hangUp, row.exist}, &handle);
            upAfterTest = bus_->ActivePaths().size();
            link.HangUp(handle);
        });
        worker.join();
        EXPECT_EQ(result, row.expected);
        EXPECT_EQ(upAfterTest, row.upAfterTest);
        EXPECT_EQ(bus_->ActivePaths().size(), row.upAfterHangUp);
        EXPECT_EQ(texts, row.textShown ? 1 : 0);
    }
}

// No NetworkManager on the bus, or no bus at all: the kernel's default route decides, and
// there is nothing to list or dial, so even dial-up mode answers 0 quietly when down.
TEST(NetworkManagerFallbackTest, WithoutManager)
{
    NmMockBus bareBus;
    std::string error;
    ASSERT_TRUE(bareBus.Start(false, &error)) << error;

    struct Row {
        const char* label;
        std::string address;
        bool defaultRoute;
    };
    const Row rows[] = {
        {"bus without manager, default route", bareBus.Address(), true},
        {"bus without manager, no route", bareBus.Address(), false},
        {"no bus at all, default route", "unix:path=/nonexistent/pw-bus", true},
        {"no bus at all, no route", "unix:path=/nonexistent/pw-bus", false},
        {"bus address that is no address", "nonsense", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        TempDir proc;
        std::filesystem::create_directories(proc.File("net"));
        WriteWholeFile(
            proc.File("net/route"),
            std::string("Iface\tDestination\tGateway\tFlags\tRefCnt\tUse\tMetric\tMask\n") +
                (row.defaultRoute ? "eth0\t00000000\t010200C0\t0003\t0\t0\t0\t00000000\n" : ""));
        NetworkManagerClient::Options options;
        options.busAddress = row.address;
        options.procRoot = proc.Path();
        NetworkManagerClient client(options);
        int texts = 0;
        DialupLink link(client, [&texts](const std::string&) { ++texts; });
        int64_t handle = -1;

        EXPECT_FALSE(client.ManagerPresent());
        EXPECT_EQ(client.AliveFlags(), row.defaultRoute ? kLan : 0);
        EXPECT_TRUE(client.ListEntries().empty());
        EXPECT_EQ(client.FindConnectedDialup(), "");
        EXPECT_EQ(link.EnsureNetwork({"3", "Mobile ISP", "1", "1"}, &handle),
                  row.defaultRoute ? 1 : 0);
        EXPECT_EQ(handle, 0);
        EXPECT_EQ(texts, 0);
    }
}

} // namespace
