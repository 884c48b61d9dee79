// Shared set-up of the tests that drive the UI layer: a display (skipped
// without one), test mode, and every unscripted wait or requester reported as
// a test failure.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "toolkit/ui/ui.h"

class UiTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!UiInit()) GTEST_SKIP() << "no display to open windows on";
        UiSetTestMode(true);
        UiSetTestFailureHandler([this](const std::string& what) {
            if (collectFailures_) failures_.push_back(what);
            else ADD_FAILURE() << what;
        });
    }
    void TearDown() override {
        if (!UiIsInitialised()) return;
        UiTestReset();
        UiSetTestFailureHandler(nullptr);
    }
    // From here on, layer failures are collected instead of failing the test.
    void CollectFailures() { collectFailures_ = true; }
    // Lets the window system deliver what it has queued and draw the windows
    // shown (GTK paints on its frame clock, so a few short rounds).
    static void LetWindowsPaint() {
        for (int round = 0; round < 3; ++round) {
            UiProcessPending();
            usleep(2000);
        }
    }
    std::vector<std::string> failures_;

private:
    bool collectFailures_ = false;
};
