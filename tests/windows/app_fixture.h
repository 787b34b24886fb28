// Puts the program's state back to a fresh start and the scripted libraries to their defaults,
// so that each in-process test runs as if the program had just started.
#pragma once

#include <gtest/gtest.h>

#include "tests/fakes/fake_audio.h"
#include "tests/windows/modal_boxes.h"

void resetApplicationState();

class AppTest : public ::testing::Test {
protected:
    void SetUp() override {
        fake::reset();
        resetApplicationState();
    }
    void TearDown() override { EXPECT_FALSE(boxes.timedOut()) << "the watchdog had to step in"; }

    ModalBoxes boxes;
};
