#include "host/panel_link.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/fixtures/test_workdir.h"
#include "host/looper.h"
#include "panel/input.h"

namespace {

// A panel program's end of the link: an unnamed socket the looper can answer.
class PanelClient {
 public:
  PanelClient() {
    fd_ = socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un self{};
    self.sun_family = AF_UNIX;
    bind(fd_, reinterpret_cast<const sockaddr*>(&self), sizeof(sa_family_t));
    looper_.sun_family = AF_UNIX;
    strcpy(looper_.sun_path, panel_socket_name);
  }
  ~PanelClient() { close(fd_); }
  void send(const std::vector<uint8_t>& bytes) {
    sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&looper_),
           sizeof looper_);
  }
  // The records waiting now, as (line, 16 characters).
  std::vector<std::pair<int, std::string>> records() {
    std::vector<std::pair<int, std::string>> out;
    pollfd p = {fd_, POLLIN, 0};
    while (poll(&p, 1, 0) > 0) {
      uint8_t record[64];
      const ssize_t n = recv(fd_, record, sizeof record, 0);
      EXPECT_EQ(n, line_record_sent);
      if (n != line_record_sent) break;
      EXPECT_EQ(record[1], 0x1F);
      out.emplace_back(
          record[line_number_offset],
          std::string(reinterpret_cast<const char*>(record + line_text_offset), display_columns));
    }
    return out;
  }

 private:
  int fd_ = -1;
  sockaddr_un looper_{};
};

class PanelLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    looper_reset();
    ASSERT_EQ(panel_link_open(panel_socket_name), 0);
  }
  void TearDown() override { panel_link_close(panel_socket_name); }
  TestWorkdir workdir;
};

TEST_F(PanelLinkTest, OneEventIsHandedOverPerPoll) {
  PanelClient client;
  client.send({panel_message_key, 0x80, 0x20});
  client.send({panel_message_encoder, 0xFF});
  client.send({panel_message_lines});
  panel_link_receive();
  EXPECT_EQ(panel_input.key_mailbox.load(), 0x2080);
  panel_link_receive();  // the key is still waiting: nothing more is read
  EXPECT_EQ(panel_input.encoder_count.load(), 0);
  EXPECT_EQ(take_input_code(), 0x2080);
  panel_link_receive();
  EXPECT_EQ(panel_input.encoder_count.load(), -1);
  EXPECT_TRUE(client.records().empty());  // the request waits behind the event
  EXPECT_EQ(take_input_code(), code_encoder_down);
  write_text(0, "First line");
  panel_link_receive();
  const auto records = client.records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].first, 0);
  EXPECT_EQ(records[0].second, "First line      ");
  EXPECT_EQ(records[1].first, 1);
  EXPECT_EQ(records[1].second, std::string(16, '\0'));
}

TEST_F(PanelLinkTest, SubscribersGetEachChangedRecord) {
  PanelClient client;
  client.send({panel_message_subscribe});
  panel_link_receive();
  EXPECT_EQ(client.records().size(), 2u);
  panel_link_transmit();
  EXPECT_EQ(client.records().size(), 2u);  // first transmit: both differ from nothing sent
  write_text(1, "Play");
  panel_link_transmit();
  auto records = client.records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].first, 1);
  EXPECT_EQ(records[0].second, "Play            ");
  panel_link_transmit();  // nothing changed since
  EXPECT_TRUE(client.records().empty());
  client.send({panel_message_unsubscribe});
  panel_link_receive();
  write_text(1, "Stop");
  panel_link_transmit();
  EXPECT_TRUE(client.records().empty());
}

TEST_F(PanelLinkTest, AVanishedSubscriberIsDropped) {
  {
    PanelClient gone;
    gone.send({panel_message_subscribe});
    panel_link_receive();
  }
  write_text(0, "Changed");
  panel_link_transmit();
  EXPECT_EQ(panel_link.subscribers[0].length, 0u);
}

TEST_F(PanelLinkTest, MalformedDatagramsAreIgnored) {
  PanelClient client;
  client.send({panel_message_key, 0x80});  // too short
  client.send({'?', 1, 2, 3});
  client.send({panel_message_encoder});
  panel_link_receive();
  EXPECT_EQ(panel_input.key_mailbox.load(), 0);
  EXPECT_EQ(panel_input.encoder_count.load(), 0);
}

}  // namespace
