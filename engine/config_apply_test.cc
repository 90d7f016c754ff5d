#include <gtest/gtest.h>

#include "config/config.h"
#include "tests/fixtures/test_workdir.h"
#include "engine/config_apply.h"
#include "engine/track.h"
#include "host/looper.h"

namespace {

class ConfigEngineTest : public ::testing::Test {
 protected:
  void SetUp() override { looper_reset(); }
  // Loads a valid stored record carrying the given levels and gate settings.
  static void load_with(int16_t main, int16_t aux, int16_t gate_level, int16_t gate_delay) {
    config_defaults();
    config.all_main_level = main;
    config.all_aux_level = aux;
    config.noise_gate_level = gate_level;
    config.noise_gate_delay = gate_delay;
    config_stamp_checksum();
    write_whole_file(config_file_name, &config, sizeof config);
    config_reset();
    load_and_apply();
  }
  static void load_and_apply() {
    config_load();
    config_apply_to_engine();
  }
  TestWorkdir dir;
};

TEST_F(ConfigEngineTest, DefaultsQuarterTheOutputsAndSetTheGate) {
  load_and_apply();  // no file: defaults, main and aux -2
  EXPECT_EQ(engine_state.main_shift_left, 0);
  EXPECT_EQ(engine_state.main_shift_right, 2);
  EXPECT_EQ(engine_state.aux_shift_left, 0);
  EXPECT_EQ(engine_state.aux_shift_right, 2);
  EXPECT_EQ(engine_state.gate_level, 4096);  // 1 << 12
  EXPECT_EQ(engine_state.gate_delay, 1000);  // 50 × 20
}

TEST_F(ConfigEngineTest, StoredLevelsBecomeShiftsEachWay) {
  load_with(3, -8, 0, 200);
  EXPECT_EQ(engine_state.main_shift_left, 3);
  EXPECT_EQ(engine_state.main_shift_right, 0);
  EXPECT_EQ(engine_state.aux_shift_left, 0);
  EXPECT_EQ(engine_state.aux_shift_right, 8);
  EXPECT_EQ(engine_state.gate_level, 1);
  EXPECT_EQ(engine_state.gate_delay, 10000);
}

TEST_F(ConfigEngineTest, LevelsOutsideTheRangeLeaveTheEngineAsItWas) {
  load_with(-1, 8, 24, 0);
  load_with(9, -9, 12, 20);
  EXPECT_EQ(config.all_main_level, 9);  // kept as stored
  EXPECT_EQ(engine_state.main_shift_left, 0);
  EXPECT_EQ(engine_state.main_shift_right, 1);
  EXPECT_EQ(engine_state.aux_shift_left, 8);
  EXPECT_EQ(engine_state.aux_shift_right, 0);
}

TEST_F(ConfigEngineTest, GateSettingsOutsideTheMenuRangeAreBounded) {
  load_with(0, 0, 40, -5);
  EXPECT_EQ(config.noise_gate_level, 40);  // kept as stored
  EXPECT_EQ(engine_state.gate_level, 1 << 24);
  EXPECT_EQ(engine_state.gate_delay, 0);
  load_with(0, 0, -3, 250);
  EXPECT_EQ(engine_state.gate_level, 1);
  EXPECT_EQ(engine_state.gate_delay, 10000);
}

}  // namespace
