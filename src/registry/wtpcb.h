// The per-AP control block CW_WTPCB: a natural C++ object that lives from
// the AP's creation (command or automatic admission) until its deletion,
// with the CAPWAP session coming and going on it.
//
// Its 39464-byte database image (DBM table 37 "cw_ap", key = APID) is
// produced by EncodeWtpRecord (wtp_record.h), field by field at the
// record offsets noted here as @offset. Runtime-only members (timers,
// queues, lists, open files) have no image; their record bytes are zero.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <list>
#include <memory>
#include <optional>
#include <string>

#include "platform/bytes.h"
#include "platform/timer.h"
#include "registry/list.h"
#include "transport/types.h"

struct VapProfile;  // config/vap_profile.h

inline constexpr size_t kWtpRecordSize = 39464;
inline constexpr uint32_t kMaxApId = 32;
inline constexpr size_t kWtpNameMax = 32;  // characters, 33-byte field

// Capability bits reported by the AP (CW_WTPCB::capability).
enum : uint16_t {
  kCapRuntimeVap = 1,  // takes virtual AP profiles at run time
  kCapMesh = 2,         // mesh capable
};

// Session state values.
enum : uint32_t {
  kStateIdle = 0,
  kStateJoin = 1,
  kStateImage = 2,
  kStateConfig = 3,
  kStateDataCheck = 4,
  kStateRun = 5,
  kStateReset = 6,
};

// --- Reassembly state (one message at a time) ---------------------------
struct CW_FRAGNODE {
  capwap::Bytes datagram;  // the whole received fragment datagram
  uint16_t frag_id = 0;
  uint16_t offset = 0;     // 8-octet units
  uint16_t payload_len = 0;
  uint8_t last = 0;
};

struct CW_FRAGINFO {
  uint8_t in_progress = 0;
  uint16_t cur_frag_id = 0;
  // Octet counts reach 51 fragments of 4088 octets, so they take 32 bits.
  uint32_t received = 0;  // payload octets held; held fragments never overlap
  uint32_t expected = 0;  // end of the fragment with the L bit; 0 until it is held
  uint16_t inserted = 0;
  uint32_t rejected_frag_id = 0xFFFFFFFF;
  capwap::Timer timer;                 // 30-second reassembly timer
  std::list<CW_FRAGNODE> fragments;    // ascending offset
};

// --- Send queue: requests one at a time, the head outstanding -----------
inline constexpr size_t kSndQueSize = 2048;
struct CW_SNDQUE {
  uint32_t head = 0;
  uint32_t tail = 0;
  uint32_t count = 0;
  uint32_t tx_count = 0;  // transmissions of the head request so far
  std::array<CwPktPtr, kSndQueSize> ring{};
};

// --- Radio binding (Part of the relay; held here) -----------------------
inline constexpr int kRdBindSlotWords = 26;  // word 0 radio ID, 1..25 sub-records
struct RadioBindingRadio {
  uint32_t radio_id = 0;
  // Sub-record copies by slot word (index 0 unused), owned here.
  std::array<std::optional<capwap::Bytes>, kRdBindSlotWords> sub{};
};
struct RadioBinding {
  uint32_t idle_timeout = 0;
  uint32_t radio_count = 0;
  std::array<RadioBindingRadio, 4> radios{};  // radio ID r in radios[r - 1]
};

// --- Tunnel-state record (last one sent to WMAC) -------------------------
struct TunnelRecord {
  uint32_t state = 0;  // 0 down, 1 up, 2 data endpoint changed
  uint32_t apid = 0;
  uint8_t family = 0;  // data channel, 1 = IPv6
  std::array<uint8_t, 16> ac_addr{};
  std::array<uint8_t, 16> wtp_data_addr{};
  uint16_t ac_data_port = 0;
  uint16_t wtp_data_port = 0;
  uint8_t virtual_ap = 0;
  uint8_t scrambled = 0;
};

// --- Core-dump upload per monitored process ------------------------------
namespace capwap {
struct MonCore {
  uint8_t proc_index = 0;
  std::string proc_name;
  std::string file_name;
  uint8_t last_seq = 0;
  uint8_t in_progress = 0;
  uint32_t total = 0;
  uint32_t received = 0;
  capwap::Timer stall_timer;
};
}  // namespace capwap

struct FileCloser {
  void operator()(FILE* f) const {
    if (f) fclose(f);
  }
};

namespace capwap {
struct LanPortAdmin {
  uint8_t port = 0;
  uint8_t enabled = 0;
};
struct LanPortVlan {
  uint8_t port = 0;
  uint16_t vlan = 0;
};
}  // namespace capwap

struct CW_WTPCB {
  CW_WTPCB();
  CW_WTPCB(const CW_WTPCB&) = delete;
  CW_WTPCB& operator=(const CW_WTPCB&) = delete;

  // Index links @0 endpoint, @12 MAC, @24 name, @36 session, @48 APID list
  // (its key word @56 holds the APID while listed).
  LIST_NODE ip_link, mac_link, name_link, sess_link, id_link;

  uint32_t apid = 0;          // @60, 1-32, the DBM key
  uint32_t group_id = 1;      // @64
  CW_ADDR local;              // @72 where the WTP's control traffic arrives
  std::array<uint8_t, 6> mac{};  // @104, all zero when unknown
  std::string name;           // @110 char[33], at most 32 characters
  std::string description;    // @143 char[64]
  uint32_t state = kStateIdle;  // @208
  CW_ADDR data_end;           // @212 data channel: family @212, addr @224, port @240
  CW_ADDR remote;             // @244 control endpoint; zero when not indexed
  uint8_t auto_created = 0;   // @276
  uint8_t discovered = 0;     // @277 set by a Discovery Request
  uint8_t priority = 4;       // @278, 1-7
  uint16_t capability = 0;    // @280 bit value 2 = mesh, 1 = run-time VAP
  uint8_t wait_rdbind = 0;    // @282 waiting for the radio binding from WMAC
  uint8_t session_flag = 0;   // @283 per-session flag cleared at teardown
  uint8_t req_seq = 0;        // @288 last sequence number used for a request
  uint8_t last_rcv_seq = 0;   // @289 last received request sequence number
  uint8_t prev_rcv_seq = 0;   // @290
  std::string serial;         // @291 char[33]
  std::array<uint8_t, 16> session_id{};  // @328
  CW_FRAGINFO frag;           // @344 (40 bytes, runtime)
  CW_SNDQUE sndq;             // @384 (8208 bytes, runtime)
  struct {
    uint32_t addr = 0, mask = 0, gateway = 0, is_static = 0;  // host order
  } static_ip;                // @8592

  // Session timers @8608.. (runtime).
  capwap::Timer retrans_timer;     // back-off of the outstanding request
  capwap::Timer chg_state_timer;   // 10 s after the Configuration Status Response
  capwap::Timer data_check_timer;  // 7 s for the first data keepalive
  capwap::Timer join_timer;        // 6 s join wait (image/config)
  capwap::Timer cfg_ipc_timer;     // 10 s for the three Config-state answers
  capwap::Timer nbr_dead_timer;    // four echo intervals in Run

  std::string model;          // @8633 char[32]
  std::array<uint8_t, 112> image_id{};  // @8668; bytes 4.. are the reset image field
  // Image download @8780.. (runtime stream, the rest imaged).
  std::unique_ptr<FILE, FileCloser> image_file;
  uint8_t image_downloading = 0;  // @8784
  uint32_t image_size = 0;        // @8788
  uint32_t image_sent = 0;        // @8792
  std::string image_path;         // @8796 char[64]
  std::list<capwap::Bytes> crash_data;  // @8860 (runtime list)
  WtpDescriptor descriptor;   // @8876 (294 bytes; hw @8882, sw @8946)
  uint16_t discovery_interval = 3;  // @9170
  uint16_t echo_interval = 10;      // @9172
  uint16_t retrans_interval = 5;    // @9174
  uint16_t stats_interval = 120;    // @9176
  std::array<uint8_t, 32> location{};  // @9184
  RadioBinding rdbind;               // @9216 (424 bytes; sub-records runtime)
  struct {
    uint8_t radio_id = 0;
    std::array<uint8_t, 6> bssid{};
  } bssid_table[4];               // @9640, 4 x 7
  uint32_t master_status = 0;     // @9696 counted-AP flag; 0 = virtual AP
  uint32_t rdbind_notify_result = 0;  // @9700
  std::array<uint8_t, 12> radio_states{};  // @9704, rows of (radio ID, state, cause)
  TunnelRecord tunnel;        // @9716 (52 bytes)
  uint8_t wait_wrrm = 0;          // @9768
  capwap::Bytes wrrm_block;       // @9769, length @17964 (at most 8195 bytes)
  uint32_t creation_time = 0;     // @17968 wall clock
  uint32_t online_tick = 0;       // @17972 ul_CW_AC_Time at creation / Run
  uint8_t wait_wids = 0;          // @17976
  capwap::Bytes wids_block;       // @17977, length @26172 (at most 8195 bytes)
  uint8_t concurrency_flag = 0;   // @26248
  std::array<capwap::MonCore, 6> mon_core;  // runtime

  uint8_t normal_collect = 0;     // @39284
  uint8_t rt_collect = 0;         // @39285
  struct {
    uint32_t addr = 0, prefixlen = 0;
  } lan_ip_inherited, lan_ip;     // @39304, @39328
  struct {
    uint32_t low = 0, high = 0, lease = 0;
  } lan_dhcp;                     // @39336
  struct {
    uint32_t addr = 0;
    uint16_t port = 0;
  } n2n;                          // @39348
  std::array<uint32_t, 4> dns{};  // @39356
  uint8_t led_quiet = 0;          // @39372
  uint32_t lan_vlan = 0;          // @39376
  VapProfile* vap_profile = nullptr;  // @39380 (runtime reference)
  uint8_t vap_profile_num = 0;    // @39384
  uint8_t antenna_external = 0;   // @39385
  uint8_t mesh_role = 0;          // @39386
  uint8_t mesh_id = 0;            // @39387
  uint8_t mesh_data_path = 0;     // @39388
  uint8_t anti_attack = 0;        // @39389
  uint8_t tpc = 0;                // @39390
  uint8_t max_retrans = 0;        // @39391, 0 = default 9
  std::array<capwap::LanPortAdmin, 4> lan_port_admin{};  // @39392
  std::array<capwap::LanPortVlan, 4> lan_port_vlan{};    // @39400
  uint32_t board_vendor_id = 0;   // @39460
  // The group's controlled-AC settings, copied in when WMAC puts the AP in
  // a group (type 34) and cleared when it takes it out (type 35). Runtime.
  struct {
    uint8_t v4 = 0;   // IPv4 address present
    uint8_t v6 = 0;   // IPv6 address present
    uint32_t ipv4 = 0;
    std::array<uint8_t, 16> ipv6{};
  } group_ac;
  // The session speaks the standard (RFC 5415/5416) dialect; set from each
  // Join Request. Runtime.
  bool rfc = false;
  // A standard WTP's IEEE 802.11 radio types by radio ID (radio r at r - 1,
  // 0 when not reported), from its Join Request. Runtime.
  std::array<uint32_t, 4> radio_types{};
};

// Calls f(display name, timer) for each session timer of the block, in the
// order the operational view lists them.
template <typename F>
void ForEachSessionTimer(CW_WTPCB& wtp, F f) {
  f("Retrans timer", wtp.retrans_timer);
  f("Change state timer", wtp.chg_state_timer);
  f("Data check timer", wtp.data_check_timer);
  f("Image config timer", wtp.join_timer);
  f("IPC timer", wtp.cfg_ipc_timer);
  f("Neighbor detect timer", wtp.nbr_dead_timer);
}

// The state's short name ("I", "J", "ID", "C", "DC", "Running", "R", "").
const char* CW_FsmStateName(uint32_t state);
