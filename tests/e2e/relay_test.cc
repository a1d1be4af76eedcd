// The configuration relay and the AP's reports against the real binary, in
// one run: WMAC's WLAN, station and security-policy requests, the layer-2
// ACL from the database, the switch-protection batch at entry to Run and the
// operator's LAN VLAN reach a running AP as the elements it must get; its
// WTP Event Requests are answered and their reports reach WMAC, WRRM and
// WIDS; its events alone (it never echoes) keep it in Run for ten echo
// intervals. The daemon and both simulators run on a 100 ms second; the
// waits are upper bounds only. When tshark can capture, every control
// message the daemon sent must decode cleanly.
#include <algorithm>
#include <cstring>
#include <deque>
#include <fstream>
#include <iomanip>
#include <sstream>

#include "e2e/binary_lab.h"
#include "config/db_tables.h"
#include "peer-sim/wlan_script.h"
#include "platform/dbm.h"
#include "relay/policy.h"
#include "relay/side_channels.h"
#include "relay/wlan/wlan_rows.h"
#include "relay/wmac.h"

namespace capwap::test {
namespace {

using namespace std::chrono_literals;
using sim::Peer;
constexpr auto kPatience = 30s;
constexpr uint32_t kEventInterval = 5;  // timer seconds between the AP's events

// A layer-2 ACL record of its table: kind 3 (IP entries) at 4, count at
// 276, then `count` entries of 80 octets (41 on the wire).
Bytes IpAclRecord(uint32_t count) {
  return Cat({HostU32(0), HostU32(3), Fill(0, 268), HostU32(count), Fill(0x5a, 80 * count)});
}

// Wireshark's dissector checks what the daemon sent. What it flags in the
// standard elements and the daemon sends so on purpose is listed here, and
// nothing else may be flagged:
//   fragments     the offset sits in the low 13 bits of its word (the RFC has
//                 the high 13), so Wireshark reassembles garbage: fragments
//                 are skipped, and the AP's reassembled copy of the WLAN
//                 request is decoded on its own instead;
//   element 1029  the value is the bare 802.11 element (ID, length, data)
//                 with no radio ID, WLAN ID or flags octet: Wireshark takes
//                 its first three octets for those, finds an empty slot (2
//                 octets) short and parses the rest of the data as elements;
//   element 1038  a station without a key gets a 20-octet Station Session
//                 Key (the RFC wants a key, 25 octets at least).
// Each is given by the start of the expert message.
const char* const kExempt[] = {"IEEE80211 Information Element length ", "Tag length ",
                               "IEEE80211 Station Session Key length 20 "};
constexpr char kFlagged[] = "_ws.malformed || _ws.expert.severity >= error";
constexpr char kExpertFields[] =
    "-E aggregator='|' -e capwap.header.flags.f -e _ws.expert.severity -e _ws.expert.message";

std::vector<std::string> Split(const std::string& text, char at) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string part; std::getline(in, part, at);) out.push_back(part);
  return out;
}

// The error-level expert messages, not exempt, of tshark lines with
// kExpertFields; fragments are skipped.
std::string Unexpected(const std::string& lines) {
  std::string out;
  for (const std::string& line : Split(lines, '\n')) {
    const std::vector<std::string> f = Split(line, '\t');
    if (f.size() < 3 || f[0] == "1") continue;
    const std::vector<std::string> severity = Split(f[1], '|'), message = Split(f[2], '|');
    for (size_t i = 0; i < severity.size() && i < message.size(); ++i) {
      auto exempt = [&](const char* start) { return message[i].starts_with(start); };
      if (std::stoul(severity[i]) >= 0x800000 && std::ranges::none_of(kExempt, exempt)) out += message[i] + "\n";
    }
  }
  return out;
}

// tshark's kExpertFields for one control datagram sent on its own.
std::string DecodeAlone(const Bytes& datagram, const std::string& dir) {
  std::ofstream hex(dir + "/one.txt");
  hex << "0000";
  for (uint8_t b : datagram) hex << ' ' << std::hex << std::setw(2) << std::setfill('0') << int{b};
  hex.close();
  const std::string cmd = "text2pcap -q -u 5246,5246 " + dir + "/one.txt " + dir + "/one.pcap >/dev/null 2>&1 && " +
                          "tshark -r " + dir + "/one.pcap -Y '" + kFlagged + "' -T fields " + kExpertFields +
                          " 2>/dev/null";
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  char buf[4096];
  for (size_t n; p && (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  if (p) pclose(p);
  return out;
}

Bytes Copy(ByteView v) { return Bytes(v.begin(), v.end()); }

class Relay : public BinaryLab {
 protected:
  struct Got {
    Bytes bytes;
    sim::ControlMessage msg;
  };
  void SetUp() override { Boot(100); }
  // Plays a line of the peer simulator's WMAC script.
  void Wmac(const std::string& line) {
    std::vector<sim::ScriptStep> steps;
    std::string why;
    ASSERT_TRUE(sim::ParseScriptLine(line, &steps, &why)) << why;
    sim::WmacScript(master_.get(), *peers_, std::move(steps)).Start();
  }
  // Element `elem` (vendor element `vendor` of 37, when not 0) of the next
  // message of `type` the AP received after the one taken last that has
  // it; null when none came.
  const CwElement* Next(uint32_t type, uint16_t elem, uint16_t vendor = 0) {
    const CwElement* hit = nullptr;
    RunUntil(
        [&] {
          for (; !hit && from_ < got_.size(); ++from_) {
            for (const CwElement& e : got_[from_].msg.list) {
              const bool named = !vendor || (e.value.size() >= 6 && (e.value[4] << 8 | e.value[5]) == vendor);
              if (!hit && got_[from_].msg.ctl.msg_type == type && e.type == elem && named) hit = &e;
            }
          }
          return hit != nullptr;
        },
        kPatience);
    return hit;
  }
  std::deque<Got> got_;  // every control message the AP received, in order
  size_t from_ = 0;
};

TEST_F(Relay, ConfigurationAndReportsOfARunningAp) {
  const uint32_t kAcl = 263;
  ASSERT_EQ(DBM_Connect(), 0);  // the daemon's database, shared through LMDB
  const Bytes acl = IpAclRecord(70);
  ASSERT_EQ(DBM_Store(kDbAcl, &kAcl, 4, acl.data(), acl.size()), 0);
  for (const char* key : {kDhcpSnoopKey, kArpAntiAttackKey}) {  // the batch at entry to Run
    ASSERT_EQ(DBM_Store(kDbDaemonSettings, key, strlen(key) + 1, "\x01", 1), 0);
  }
  DBM_Disconnect();

  sim::SimWtp& ap = AddAp(0, false, 5);
  ap.identity().model = "wp-120";  // a model with LAN ports
  ap.knobs().silent_echo = true;
  ap.knobs().event_interval = kEventInterval;
  ap.knobs().policy_results[vendor_elem::kPortalDomain] = 1;
  ap.set_tap([this](const Bytes& message) {
    Got& got = got_.emplace_back();
    got.bytes = message;
    std::string why;
    EXPECT_TRUE(sim::ParseControl(got.bytes, &got.msg, &why)) << why;
  });
  ASSERT_EQ(ap.Start(), 0);
  ASSERT_TRUE(RunUntil([&] { return ap.state() == sim::WtpState::kRun; }, kPatience))
      << ap.last_error() << daemon_->output();

  // An Add WLAN with every optional part, the web page block among them,
  // goes out in fragments as one request with exactly the elements of the
  // byte table; the AP's answer gives WMAC the BSSID.
  const uint64_t reassembled = ap.counters().reassembled;
  const Bytes wlan = AddWlanFull();
  ASSERT_TRUE(peers_->SendToAc(Peer::kWmac, WmacIn::kAddWlan, 1, wlan));
  ASSERT_NE(Next(kMsgWlanCfgReq, elem::kIeee80211AddWlan), nullptr) << daemon_->output();
  const Bytes wlan_request = got_[from_ - 1].bytes;
  EXPECT_TRUE(BytesMatch(got_[from_ - 1].msg.elements, AddWlanFullRows(wlan)));
  EXPECT_GT(ap.counters().reassembled, reassembled) << "sent in fragments";
  EXPECT_EQ(ap.counters().policy_settings, 4u) << "at entry to Run: switch protection twice, 85, 213";
  ASSERT_TRUE(RunUntil([&] { return peers_->LastReceived(Peer::kWmac, WmacMsg::kSetBssid); }, kPatience));
  WmacSetBssidRecord told;
  ASSERT_TRUE(WmacRecordDecode(peers_->LastReceived(Peer::kWmac, WmacMsg::kSetBssid)->payload, &told));
  std::array<uint8_t, 6> bssid = ap.identity().radios[0].bssid;
  bssid[5] = static_cast<uint8_t>(bssid[5] + 2);
  EXPECT_EQ(told.radio_id, 1);
  EXPECT_EQ(told.wlan_id, 2);
  EXPECT_EQ(told.bssid, bssid);

  // A station added, its traffic limit, the station deleted.
  const struct {
    const char* line;
    uint16_t elem;
    Bytes value;
  } stations[] = {
      {"add-sta 1 1 2 02:00:00:00:00:42", elem::kAddStation, Hex("01 06 020000000042 00000000")},
      {"sta-traffic 1 02:00:00:00:00:42 2048 1024 1", elem::kStationTraffic,
       Cat({Hex("020000000042"), U32(2048), U32(1024), U32(1)})},
      {"del-sta 1 1 02:00:00:00:00:42", elem::kDeleteStation, Hex("01 06 020000000042")},
  };
  for (const auto& [line, type, value] : stations) {
    Wmac(line);
    const CwElement* e = Next(kMsgStaCfgReq, type);
    ASSERT_NE(e, nullptr) << line;
    EXPECT_EQ(Copy(e->value), value) << line;
  }

  // The ACL's 70 entries go as 34 (a request in fragments), 34 and 2.
  Wmac("l2-acl 1 2 1 2 " + std::to_string(kAcl));
  const uint64_t fragmented = ap.counters().reassembled;
  for (uint32_t n : {34u, 34u, 2u}) {
    const CwElement* e = Next(kMsgCfgUpdateReq, elem::kL2Acl);
    ASSERT_NE(e, nullptr) << n;
    ASSERT_EQ(e->value.size(), 8 + 41 * n);
    EXPECT_EQ(Copy(e->value.first(8)), Cat({Hex("02 01 02 03"), U32(n)}));
  }
  EXPECT_EQ(ap.counters().reassembled, fragmented + 2);

  // One of each other policy request, every element as the AP's length
  // checks want; the AP refuses the portal domain, which the daemon logs.
  daemon_->Vty("debug capwap error");
  for (const char* line : {"user-isolation 1 1 0 1", "dhcp-snooping 1 01", "vlan-isolate 1 0a0b",
                           "acl-rule 1 7 1 2 aabb", "wlan-acl 1 1 1 2 9", "portal-domain 1 1 portal.lan"}) {
    Wmac(line);
  }
  ASSERT_TRUE(RunUntil([&] { return ap.counters().policy_settings == 4 + 3 + 6; }, kPatience));
  auto logged = [&] { return daemon_->output().find(" Result code 1 frome Config Update") != std::string::npos; };
  ASSERT_TRUE(RunUntil(logged, kPatience)) << daemon_->output();

  // The operator's LAN VLAN of the AP, set and removed.
  daemon_->Vty("configure terminal\nwlan ap ap1\nlan-port vlan 30\nno lan-port vlan\nend");
  for (uint32_t vlan : {30u, 0u}) {
    const CwElement* e = Next(kMsgCfgUpdateReq, elem::kVendorSpecificPayload, vendor_elem::kWiredLanVlan);
    ASSERT_NE(e, nullptr) << vlan << daemon_->output();
    EXPECT_EQ(Copy(e->value), Cat({U32(kVendor), U16(85), U16(4), U32(vlan)}));
  }

  // An event with a station deletion besides the periodic channel reports
  // and intrusion summary: answered, and each report reaches its peer.
  peers_->ClearHistory();
  auto sent = [&] {
    from_ = got_.size();  // the next Event Response answers this one
    return ap.SendEvent(Elem(18, Hex("02 06 001122334455"), "").bytes);
  };
  ASSERT_TRUE(RunUntil(sent, kPatience));
  ASSERT_NE(Next(kMsgWtpEventRsp, 6), nullptr) << "AC Timestamp";
  ASSERT_TRUE(RunUntil([&] { return peers_->LastReceived(Peer::kWmac, WmacMsg::kDelSta); }, kPatience));
  EXPECT_EQ(peers_->LastReceived(Peer::kWmac, WmacMsg::kDelSta)->payload, Hex("001122334455 02"));
  ASSERT_TRUE(RunUntil(
      [&] { return peers_->LastReceived(Peer::kWrrm, 1) && peers_->LastReceived(Peer::kWids, WIDS_MSG_REPORT); },
      kPatience));
  EXPECT_EQ(peers_->LastReceived(Peer::kWrrm, 1)->payload, Hex("0085 0003 01 06 14 0085 0003 02 24 14"));

  // Ten echo intervals on its events alone.
  const uint64_t events = ap.counters().events_answered;
  ASSERT_TRUE(RunUntil(
      [&] { return ap.counters().events_answered >= events + 10 * ap.echo_interval() / kEventInterval; },
      kPatience * 2));
  EXPECT_EQ(ap.state(), sim::WtpState::kRun);
  EXPECT_EQ(ap.counters().run_entries, 1u);
  EXPECT_EQ(ap.counters().echo_sent, 0u);
  EXPECT_EQ(ap.counters().protocol_errors, 0u) << ap.last_error();
  const std::string table = daemon_->Vty("show wlan ap all");
  EXPECT_NE(table.find("Running/Total APs                       :1/1"), std::string::npos) << table;

  const std::string skip = MalformedOnTheWire();
  if (skip.starts_with("skip: ")) GTEST_SKIP() << skip;
  const std::string types = SentTypes();
  for (const char* type : {"3398913\n", "25\n", "7\n", "10\n"}) {
    EXPECT_NE(types.find(type), std::string::npos) << "missing type " << type;
  }
  EXPECT_EQ(Unexpected(capture_->Query(daemon_->port_base(), kFlagged, kExpertFields)), "");
  EXPECT_EQ(Unexpected(DecodeAlone(wlan_request, daemon_->root().path())), "");
}

}  // namespace
}  // namespace capwap::test
