// Which calibration file a run writes, told as the stories an engineer lives through: a
// calibration goes only to its own controller, comes back from the backup when the controller
// can no longer be read, and the user's own file still works.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include "child_process.h"
#include "identity/identity_keeper.h"

namespace {

const char kMacA[] = "001A2B3C4D5E";
const char kMacB[] = "0C0D0E0F1011";
const std::string kIdentityA = "EMAC=00:1A:2B:3C:4D:5E\r\nIP=C0:A8:01:0A\r\n";

void Put(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

// What the reader leaves in data\ and reports.
struct Reading {
    std::string identity;     // empty: not fetched
    std::string mac;          // the MAC the page loaded from it; empty when damaged
    std::string calibration;  // empty: not fetched
};

class Session {
  public:
    explicit Session(const std::string& root) : m_keeper(root, true) { m_keeper.TakeUserFiles(); }
    // The reader puts its copies into data\ too; the keeper takes them from the reading.
    void Read(const Reading& r) {
        if (!r.identity.empty()) Put("data/local_addres.dat", r.identity);
        if (!r.calibration.empty()) Put("data/calib.inc", r.calibration);
        m_keeper.OnReading(r.identity.empty() ? nullptr : &r.identity, r.mac,
                           r.calibration.empty() ? nullptr : &r.calibration);
    }
    // Next with `mac`, then the run's start: what data\calib.inc holds ("-" when absent).
    std::string Flash(const std::string& mac, bool model317, CalibrationSource* source) {
        *source = m_keeper.Confirm(mac, model317);
        EXPECT_TRUE(m_keeper.PrepareCalibrationFile());
        std::ifstream in("data/calib.inc", std::ios::binary);
        return in ? ReadWholeFile("data/calib.inc") : "-";
    }
    CIdentityKeeper& Keeper() { return m_keeper; }

  private:
    CIdentityKeeper m_keeper;
};

const Reading kReadA = {kIdentityA, kMacA, "calibration of A"};
const Reading kNotRead = {"", "", ""};

TEST(IdentityKeeper, TheCalibrationAWriteTakes) {
    struct Case {
        const char* name;
        std::string userFile;  // in data\ when the program starts ("" none)
        // Earlier sessions, each ended as a real one ends (data\calib.inc removed at exit
        // unless `killed`).
        std::vector<Reading> before;
        bool killed;
        std::vector<Reading> readings;  // this session's, in order
        std::string confirmed;
        bool model317;
        CalibrationSource source;
        std::string written;  // data\calib.inc at the run's start, "-" none
    };
    const Case cases[] = {
        {"A read, then B not read: B gets none of A's",
         "",
         {},
         false,
         {kReadA, kNotRead},
         kMacB,
         true,
         CalibrationSource::None,
         "-"},
        {"A read: A's own",
         "",
         {},
         false,
         {kReadA},
         kMacA,
         true,
         CalibrationSource::Reading,
         "calibration of A"},
        {"A's reading wins over the user's file",
         "user's",
         {},
         false,
         {kReadA},
         kMacA,
         true,
         CalibrationSource::Reading,
         "calibration of A"},
        {"A read in an earlier session, not now: from the backup",
         "",
         {kReadA},
         false,
         {kNotRead},
         kMacA,
         true,
         CalibrationSource::Backup,
         "calibration of A"},
        {"no restore for a model without calibration",
         "",
         {kReadA},
         false,
         {kNotRead},
         kMacA,
         false,
         CalibrationSource::None,
         "-"},
        {"the backup of another MAC is not restored",
         "",
         {kReadA},
         false,
         {kNotRead},
         kMacB,
         true,
         CalibrationSource::None,
         "-"},
        {"the user's file when nothing else is known",
         "user's",
         {},
         false,
         {kNotRead},
         kMacB,
         true,
         CalibrationSource::UserFile,
         "user's"},
        {"the backup before the user's file",
         "user's",
         {kReadA},
         false,
         {kNotRead},
         kMacA,
         true,
         CalibrationSource::Backup,
         "calibration of A"},
        {"a copy left by a killed session is not the user's",
         "",
         {kReadA},
         true,
         {kNotRead},
         kMacB,
         true,
         CalibrationSource::None,
         "-"},
        {"a later reading without calibration: the older backup that has one",
         "",
         {kReadA, {kIdentityA, kMacA, ""}},
         false,
         {kNotRead},
         kMacA,
         true,
         CalibrationSource::Backup,
         "calibration of A"},
    };
    for (const Case& c : cases) {
        WorkFolder work("keeper", "data store");
        const std::string root = work.Path() + "/store/";
        for (const Reading& r : c.before) {
            Session earlier(root);
            earlier.Read(r);
            if (!c.killed) std::remove("data/calib.inc");
        }
        if (!c.userFile.empty()) Put("data/calib.inc", c.userFile);
        Session session(root);
        for (const Reading& r : c.readings) session.Read(r);
        CalibrationSource source;
        EXPECT_EQ(session.Flash(c.confirmed, c.model317, &source), c.written) << c.name;
        EXPECT_EQ(source, c.source) << c.name;
        // Formatting is offered freely only where no calibration would come back.
        if (c.model317) {
            EXPECT_EQ(session.Keeper().KnowsCalibration(c.confirmed),
                      c.source != CalibrationSource::None)
                << c.name;
        }
    }
}

// The IP a page shows for a controller that cannot be read comes from the user's own identity
// file, never from one another controller's reading left in data\.
TEST(IdentityKeeper, TheUsersIdentityFileIsTheOneFoundBeforeAnyReading) {
    const std::string kUsers = "EMAC=00:00:00:00:00:00\r\nIP=C0:A8:00:11\r\n";
    struct Case {
        const char* name;
        std::vector<Reading> before;  // earlier sessions (killed: their copies stay in data\)
        std::string inData;           // put into data\ before this session ("" none)
        bool users;
    };
    const Case cases[] = {
        {"the user's file", {}, kUsers, true},
        {"none", {}, "", false},
        {"a reading's copy left behind", {kReadA}, "", false},
        {"the user's file over a reading's copy", {kReadA}, kUsers, true},
    };
    for (const Case& c : cases) {
        WorkFolder work("keeper_identity", "data store");
        const std::string root = work.Path() + "/store/";
        for (const Reading& r : c.before) Session(root).Read(r);
        if (!c.inData.empty()) Put("data/local_addres.dat", c.inData);
        Session session(root);
        // A reading in this session changes nothing of what the user's file was.
        session.Read(kReadA);
        const std::string* users = session.Keeper().UserIdentity();
        ASSERT_EQ(users != nullptr, c.users) << c.name;
        if (users) {
            EXPECT_EQ(*users, kUsers) << c.name;
        }
    }
}

TEST(IdentityKeeper, BacksUpEachDifferentReadingOnce) {
    WorkFolder work("keeper", "data store");
    const std::string root = work.Path() + "/store/";
    CBackupStore store(root);
    Session session(root);
    session.Read(kReadA);
    session.Read(kReadA);
    const std::string first = store.Latest(kMacA);
    ASSERT_FALSE(first.empty());
    std::string kept;
    EXPECT_TRUE(CBackupStore::Load(first, "calib.inc", &kept));
    EXPECT_EQ(kept, "calibration of A");
    // The same reading again is no new folder; a calibration that changed is.
    session.Read({kIdentityA, kMacA, "calibration of A, recalibrated"});
    EXPECT_NE(store.Latest(kMacA), first);

    // A calibration read while the identity was damaged is kept under the MAC the engineer
    // confirms.
    session.Read({"EMAC=00:1A\r\n", "", "calibration of B"});
    CalibrationSource source;
    EXPECT_EQ(session.Flash(kMacB, true, &source), "calibration of B");
    EXPECT_EQ(source, CalibrationSource::Reading);
    ASSERT_FALSE(store.Latest(kMacB).empty());
    EXPECT_TRUE(CBackupStore::Load(store.Latest(kMacB), "calib.inc", &kept));
    EXPECT_EQ(kept, "calibration of B");
}

}  // namespace
