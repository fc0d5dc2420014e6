// The end-to-end test program. Under CTest a fixture starts the session once
// (--session-start) and stops it after the last test (--session-stop); run by
// hand, the program starts and stops a session of its own.
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

#include "e2e_fixture.h"
#include "wine_session.h"

namespace {

class WineSession : public ::testing::Environment {
public:
    void SetUp() override {
        if (!e2e::WhyWineCannotRun().empty()) return;  // every test skips itself
        if (e2e::SessionRunning()) return;
        owned_ = true;
        if (!e2e::StartSession(&e2e::g_sessionError)) e2e::g_sessionError = "no Wine session: " + e2e::g_sessionError;
    }
    void TearDown() override {
        if (owned_) e2e::StopSession();
    }

private:
    bool owned_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && strcmp(argv[1], "--session-start") == 0) {
        if (!e2e::WhyWineCannotRun().empty()) {
            printf("no Wine session, every Wine test is skipped: %s\n", e2e::WhyWineCannotRun().c_str());
            return 0;
        }
        std::string error;
        if (!e2e::StartSession(&error)) {
            fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        return 0;
    }
    if (argc == 2 && strcmp(argv[1], "--session-stop") == 0) {
        e2e::StopSession();
        return 0;
    }
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new WineSession);
    return RUN_ALL_TESTS();
}
