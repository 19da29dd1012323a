// The fixture of the registry and access-list tests: an XP machine to start
// from, and at the end nothing left open and every change noted.
#pragma once

#include <gtest/gtest.h>

#include "sim.h"

class RegistryFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::Reset(sim::Windows::WinXP);
    mark_ = sim::TakeRegistryAtMark();
  }
  void TearDown() override {
    EXPECT_TRUE(sim::NothingOutstanding()) << sim::OutstandingText();
    // Every change the test made was noted: no tree passed over is changed.
    EXPECT_EQ(sim::ChangedBehindMark(mark_), "");
  }
  sim::RegistryAtMark mark_;
};
