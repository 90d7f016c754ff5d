#include "midi/midi_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "core/log_ring.h"
#include "host/looper.h"

namespace {

class MidiQueueTest : public ::testing::Test {
 protected:
  void SetUp() override { looper_reset(); }

  static std::string console_text() {
    char text[log_ring_size];
    const int n = log_take(console_log.udp_log_ring, text, log_ring_size);
    return std::string(text, size_t(n));
  }

  // Drains the output queue as the process callback does.
  static std::vector<std::vector<uint8_t>> drain() {
    std::vector<std::vector<uint8_t>> messages;
    while (midi_out_pending() > 0) {
      int n;
      const uint8_t* bytes = midi_out_take(&n);
      messages.emplace_back(bytes, bytes + n);
    }
    return messages;
  }
};

TEST_F(MidiQueueTest, InputRingKeepsOrderAcrossTheWrap) {
  EXPECT_EQ(midi_in_get(), -1);
  // Three times round the ring in uneven chunks, so both indices wrap at every offset.
  constexpr uint32_t chunk = 1000 + 7;
  uint32_t sent = 0, received = 0;
  while (received < 3 * midi_in_size) {
    for (uint32_t i = 0; i < chunk; ++i) midi_in_put(uint8_t(sent++ * 13));
    for (uint32_t i = 0; i < chunk; ++i) ASSERT_EQ(midi_in_get(), uint8_t(received++ * 13));
  }
  EXPECT_EQ(midi_in_get(), -1);
  EXPECT_EQ(console_text(), "");
}

int64_t test_clock_ms = 0;
int64_t test_clock() { return test_clock_ms; }

TEST_F(MidiQueueTest, FullInputRingDropsNewBytesAndReportsTheLossOnceASecond) {
  test_clock_ms = 5000;
  midi_in_ring.clock_ms = test_clock;
  for (uint32_t i = 0; i < midi_in_size + 1; ++i) midi_in_put(uint8_t(i));
  // 131071 bytes fit; the last two were dropped and are reported by the reader.
  EXPECT_EQ(midi_in_get(), 0);
  EXPECT_EQ(console_text(), "in overrun, 2 bytes lost\n");
  // A flood goes on: within the second nothing more is printed, whatever is lost (999 bytes
  // here with room for one, then 2 with room for 1000).
  for (int i = 0; i < 1000; ++i) midi_in_put(0xF8);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(midi_in_get(), uint8_t(i + 1));
  test_clock_ms += overrun_report_interval_ms - 1;
  for (int i = 0; i < 1002; ++i) midi_in_put(0xF8);
  EXPECT_EQ(midi_in_get(), uint8_t(1001));
  EXPECT_EQ(console_text(), "");
  // A second after the last report the bytes lost since are reported in one line.
  test_clock_ms += 1;
  EXPECT_EQ(midi_in_get(), uint8_t(1002));
  EXPECT_EQ(console_text(), "in overrun, 1001 bytes lost\n");
  for (uint32_t i = 1003; i < midi_in_size - 1; ++i) ASSERT_EQ(midi_in_get(), uint8_t(i));
  while (midi_in_get() >= 0) {}
  midi_in_put(0x90);
  EXPECT_EQ(midi_in_get(), 0x90);
  EXPECT_EQ(console_text(), "");
}

TEST_F(MidiQueueTest, EnqueueAcceptsOnlyWholeMessagesOfOneTo512Bytes) {
  struct Case {
    int length;
    int queued;
  };
  const Case cases[] = {{-1, 0}, {0, 0}, {1, 1}, {3, 3}, {512, 512}, {513, 0}, {2000, 0}};
  std::vector<uint8_t> bytes(2000);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    EXPECT_EQ(midi_enqueue(bytes.data(), c.length), c.queued);
  }
  EXPECT_EQ(midi_enqueue(nullptr, 3), 0);
  const auto messages = drain();
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_EQ(messages[2], std::vector<uint8_t>(bytes.begin(), bytes.begin() + 512));
}

TEST_F(MidiQueueTest, PendingLengthAndTakeFollowQueueOrderAcrossTheWrap) {
  EXPECT_EQ(midi_out_pending(), 0);
  EXPECT_EQ(midi_out_length(), 0);
  EXPECT_EQ(midi_out_take(), nullptr);
  // 600 messages, up to three waiting at a time, so the indices wrap twice.
  int next_in = 0, next_out = 0;
  while (next_out < 600) {
    while (next_in < 600 && next_in - next_out < 3) {
      const uint8_t message[3] = {0x90, uint8_t(next_in % 128), uint8_t(next_in / 128)};
      const int length = 1 + next_in % 3;
      ASSERT_EQ(midi_enqueue(message, length), length);
      ++next_in;
    }
    ASSERT_EQ(midi_out_pending(), next_in - next_out);
    ASSERT_EQ(midi_out_length(), 1 + next_out % 3);
    const uint8_t* bytes = midi_out_take();
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(bytes[0], 0x90);
    if (next_out % 3 > 0) {
      EXPECT_EQ(bytes[1], next_out % 128);
    }
    if (next_out % 3 > 1) {
      EXPECT_EQ(bytes[2], next_out / 128);
    }
    ++next_out;
  }
  EXPECT_EQ(midi_out_pending(), 0);
}

TEST_F(MidiQueueTest, FullQueueRefusesAndKeepsTheSlotJustTaken) {
  for (int i = 0; i < midi_out_slots - 1; ++i) {
    const uint8_t message[2] = {0xC0, uint8_t(i % 128)};
    ASSERT_EQ(midi_enqueue(message, 2), 2);
  }
  const uint8_t extra[2] = {0xC0, 0x7F};
  EXPECT_EQ(midi_enqueue(extra, 2), 0);
  EXPECT_EQ(midi_out_pending(), 255);

  // The consumer may still be sending the message it just took: refilling must not touch it.
  const uint8_t* taken = midi_out_take();
  ASSERT_NE(taken, nullptr);
  EXPECT_EQ(midi_enqueue(extra, 2), 2);
  EXPECT_EQ(midi_enqueue(extra, 2), 0);
  EXPECT_EQ(taken[1], 0);
  const auto rest = drain();
  ASSERT_EQ(rest.size(), 255u);
  EXPECT_EQ(rest[0][1], 1);
  EXPECT_EQ(rest[254], std::vector<uint8_t>(extra, extra + 2));
}

TEST_F(MidiQueueTest, AudioThreadEnqueuesWithoutWaitingForOtherProducers) {
  midi_out_register_audio_thread();  // this thread now plays the process callback
  const uint8_t from_other[3] = {0x90, 0x3C, 0x64};
  std::atomic<bool> holding{false}, clock_queued{false};
  // Another producer holds the queue's mutex, as while it copies a long message.
  std::thread other([&] {
    pthread_mutex_lock(&midi_out_queue.producer_mutex);
    holding = true;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!clock_queued && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    pthread_mutex_unlock(&midi_out_queue.producer_mutex);
    midi_enqueue(from_other, 3);
  });
  while (!holding) std::this_thread::yield();
  const uint8_t clock = 0xF8;
  EXPECT_EQ(midi_enqueue(&clock, 1), 1);
  EXPECT_TRUE(holding);
  clock_queued = true;
  other.join();

  // One drain sends both in the order they were queued.
  EXPECT_EQ(midi_out_pending(), 2);
  const auto messages = drain();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0], std::vector<uint8_t>{0xF8});
  EXPECT_EQ(messages[1], std::vector<uint8_t>(from_other, from_other + 3));
}

// Queues one message from a thread other than the registered audio thread: the shared lane.
void enqueue_from_other_thread(std::vector<uint8_t> message) {
  const int length = int(message.size());
  std::thread([&] { ASSERT_EQ(midi_enqueue(message.data(), length), length); }).join();
}

TEST_F(MidiQueueTest, MessagesLeaveInQueueOrderAcrossBothLanes) {
  midi_out_register_audio_thread();  // this thread's messages take the audio lane
  const uint8_t clock = 0xF8;
  const uint8_t start = 0xFA;
  ASSERT_EQ(midi_enqueue(&clock, 1), 1);
  enqueue_from_other_thread({0x90, 0x3C, 0x64});
  ASSERT_EQ(midi_enqueue(&start, 1), 1);
  enqueue_from_other_thread({0xC0, 0x05});
  const std::vector<std::vector<uint8_t>> expected = {
      {0xF8}, {0x90, 0x3C, 0x64}, {0xFA}, {0xC0, 0x05}};
  EXPECT_EQ(drain(), expected);
}

// A port buffer of a fixed number of bytes per period, as the process callback's writer sees it.
struct SmallPort {
  int room = 0;
  std::vector<std::vector<uint8_t>> sent;
  static bool write(const uint8_t* bytes, int length, void* target) {
    auto& port = *static_cast<SmallPort*>(target);
    if (length > port.room) return false;
    port.room -= length;
    port.sent.emplace_back(bytes, bytes + length);
    return true;
  }
};

TEST_F(MidiQueueTest, WhatThePortHasNoRoomForLeavesInTheNextPeriodInOrder) {
  midi_out_register_audio_thread();
  const uint8_t clock = 0xF8;
  ASSERT_EQ(midi_enqueue(&clock, 1), 1);
  enqueue_from_other_thread({0x90, 0x3C, 0x64});
  ASSERT_EQ(midi_enqueue(&clock, 1), 1);
  enqueue_from_other_thread({0xC0, 0x05});
  enqueue_from_other_thread({0xC0, 0x06});

  SmallPort port;
  port.room = 4;  // one period: the clock byte and the note fit, the next clock byte not
  midi_out_drain(SmallPort::write, &port);
  EXPECT_EQ(port.sent, (std::vector<std::vector<uint8_t>>{{0xF8}, {0x90, 0x3C, 0x64}}));
  EXPECT_EQ(midi_out_pending(), 3);
  port.room = 1;  // a frame later the audio lane alone: its clock byte
  midi_out_drain_audio_lane(SmallPort::write, &port);
  EXPECT_EQ(port.sent.back(), std::vector<uint8_t>{0xF8});

  port.sent.clear();
  port.room = 2;  // the next period: one program change, then the other
  midi_out_drain(SmallPort::write, &port);
  port.room = 2;
  midi_out_drain(SmallPort::write, &port);
  EXPECT_EQ(port.sent, (std::vector<std::vector<uint8_t>>{{0xC0, 0x05}, {0xC0, 0x06}}));
  EXPECT_EQ(midi_out_pending(), 0);
}

TEST_F(MidiQueueTest, TakeReturnsTheMessageWhoseLengthWasRead) {
  midi_out_register_audio_thread();
  const uint8_t clock = 0xF8;
  ASSERT_EQ(midi_enqueue(&clock, 1), 1);
  const int length = midi_out_length();
  enqueue_from_other_thread({0x90, 0x3C, 0x64});  // arrives between the two calls
  int taken_length = 0;
  const uint8_t* bytes = midi_out_take(&taken_length);
  ASSERT_NE(bytes, nullptr);
  EXPECT_EQ(length, 1);
  EXPECT_EQ(taken_length, 1);
  EXPECT_EQ(bytes[0], 0xF8);
  bytes = midi_out_take(&taken_length);
  ASSERT_NE(bytes, nullptr);
  EXPECT_EQ(taken_length, 3);
  EXPECT_EQ(bytes[0], 0x90);
  EXPECT_EQ(midi_out_take(&taken_length), nullptr);
  EXPECT_EQ(taken_length, 0);
}

TEST_F(MidiQueueTest, ConcurrentProducersLoseNothingWhileTheQueueHasRoom) {
  // Two producer threads of 100 messages each: 200 pending, below the 255 limit.
  constexpr int per_thread = 100;
  auto produce = [](uint8_t tag) {
    for (int i = 0; i < per_thread; ++i) {
      const uint8_t message[3] = {tag, uint8_t(i), 0x40};
      ASSERT_EQ(midi_enqueue(message, 3), 3);
    }
  };
  std::thread a(produce, uint8_t{0x90}), b(produce, uint8_t{0x91});
  a.join();
  b.join();
  int next[2] = {0, 0};
  for (const auto& m : drain()) {
    ASSERT_EQ(m.size(), 3u);
    const int lane = m[0] - 0x90;
    EXPECT_EQ(m[1], next[lane]++);  // each producer's messages stay in order
  }
  EXPECT_EQ(next[0], per_thread);
  EXPECT_EQ(next[1], per_thread);
}

}  // namespace
