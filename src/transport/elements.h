// Every message element number the controller reads or writes, defined once.
// Where this system gives a number its own meaning in one message (the AP
// start-up items of the Configuration Status Response, the station reports of
// the WTP Event Request), the product name is a second name of the number.
#pragma once

#include <cstdint>

namespace capwap::elem {

enum : uint16_t {
  kAcDescriptor = 1,
  kAcIpv4List = 2,
  kAcIpv6List = 3,
  kAcName = 4,
  kAcNameWithPriority = 5,
  kAcTimestamp = 6,
  kAddMacAclEntry = 7,
  kAddStation = 8,
  kCapwapControlIpv4Address = 10,
  kCapwapControlIpv6Address = 11,
  kCapwapTimers = 12,
  kDataTransferData = 13,
  kDataTransferMode = 14,
  kDecryptionErrorReportPeriod = 16,
  kDeleteMacAclEntry = 17,
  kDeleteStation = 18,
  kDiscoveryType = 20,
  kDuplicateIpv6Address = 22,
  kIdleTimeout = 23,
  kImageData = 24,
  kImageIdentifier = 25,
  kImageInformation = 26,
  kInitiateDownload = 27,
  kLocationData = 28,
  kCapwapLocalIpv4Address = 30,
  kRadioAdministrativeState = 31,
  kRadioOperationalState = 32,
  kResultCode = 33,
  kReturnedMessageElement = 34,
  kSessionId = 35,
  kStatisticsTimer = 36,
  kVendorSpecificPayload = 37,
  kWtpBoardData = 38,
  kWtpDescriptor = 39,
  kWtpFallback = 40,
  kWtpFrameTunnelMode = 41,
  kWtpMacType = 44,
  kWtpName = 45,
  kWtpRadioStatistics = 47,
  kWtpRebootStatistics = 48,
  kWtpStaticIpAddressInformation = 49,
  kCapwapLocalIpv6Address = 50,
  kCapwapTransportProtocol = 51,
  kEcnSupport = 53,

  // This system's start-up items of the Configuration Status Response.
  kLanIp = 50,
  kLanDhcp = 51,
  kDnsServers = 52,
  kN2nServer = 54,
  kCloudServer = 57,
  kLedMode = 58,
  kVirtualAp = 61,
  kAntennaType = 62,
  kMeshRole = 63,
  kL2Acl = 64,  // a layer-2 ACL chunk of a Configuration Update Request
  kRetransmitInterval = 65,
  kLanPortAdmin = 66,
  kMaxRetransmissions = 67,
  // This system's station reports of the WTP Event Request.
  kStationIp = 55,
  kStationSync = 57,
  kSpecificStationDeletion = 58,
  kSpecificStationDeletionTail = 59,
  // This system's capabilities (mesh, run-time virtual APs), top-level in
  // Discovery and Join.
  kWtpCapabilities = 198,
  // This system's per-station traffic limit of the Station Configuration
  // Request.
  kStationTraffic = 56,

  kIeee80211AddWlan = 1024,
  kIeee80211Antenna = 1025,
  kIeee80211AssignedWtpBssid = 1026,
  kIeee80211DeleteWlan = 1027,
  kIeee80211DirectSequenceControl = 1028,
  kIeee80211InformationElement = 1029,
  kIeee80211MacOperation = 1030,
  kIeee80211MicCountermeasures = 1031,
  kIeee80211MultiDomainCapability = 1032,
  kIeee80211OfdmControl = 1033,
  kIeee80211RateSet = 1034,
  kIeee80211RsnaErrorReportFromStation = 1035,
  kIeee80211Station = 1036,
  kIeee80211StationQosProfile = 1037,
  kIeee80211StationSessionKey = 1038,
  kIeee80211Statistics = 1039,
  kIeee80211SupportedRates = 1040,
  kIeee80211TxPower = 1041,
  kIeee80211TxPowerLevel = 1042,
  kIeee80211UpdateStationQos = 1043,
  kIeee80211UpdateWlan = 1044,
  kIeee80211WtpQualityOfService = 1045,
  kIeee80211WtpRadioConfiguration = 1046,
  kIeee80211WtpRadioFailAlarmIndication = 1047,
  kIeee80211WtpRadioInformation = 1048,
  // Per-radio elements this system carries without reading them.
  kFirstOpaqueRadio = 1049,
  kLastOpaqueRadio = 1072,
  // This system's single-value WLAN and station settings of the IEEE 802.11
  // binding (their values are settled between WMAC and the AP).
  kWlanSetting1054 = 1054,
  kWlanSetting1055 = 1055,
  kWlanSetting1061 = 1061,
  kStationSetting1062 = 1062,
  kStationSetting1064 = 1064,
  kWlanSetting1067 = 1067,
  kWlanSetting1070 = 1070,
  kWlanOptions = 1071,
  kWlanSetting1073 = 1073,
};

// Printable name of an element type ("Session ID"; "Unknown" otherwise).
const char* Name(uint16_t type);

}  // namespace capwap::elem

// Sub-elements of a Vendor Specific Payload of this system's vendor identifier.
namespace capwap::vendor_elem {

enum : uint16_t {
  kAcHostName = 2,
  kRunInfo = 50,
  kInterfaceCounters = 51,
  kDiscoveryData = 63,
  kWiredLanVlan = 85,  // u32 VLAN (0 also marks link isolation)
  kRadioWord = 100,
  kWidsReportA = 108,
  kWidsReportB = 112,
  kBandSteering = 126,
  kMasterStatus = 127,
  kPriority = 128,
  kRadioCapabilities = 129,
  kChannelReport = 133,
  kNeighbourReport = 134,
  kStationScan = 136,
  kRadioSlot = 147,
  kInterfaceInfo = 162,
  kDeviceDescription = 163,
  kDeviceStatistics = 164,
  kInterface = 174,
  kRealTimeCollection = 175,
  kSyncTimeTrap = 176,
  kWapiClient = 181,
  kDnsInfo = 197,
  kCapabilities = 198,
  kWirelessConnection = 202,
  kMediaReport = 203,
  kWrrmReportA = 1056,
  kWrrmReportB = 1057,
};

// Security-policy settings of Configuration Update Requests.
enum : uint16_t {
  kAclRule = 82,
  kWlanAcl = 83,
  kUserIsolation = 123,
  kSwitchProtection = 212,  // DHCP snooping, ARP inspection, ARP anti-attack
  kPortVlans = 213,
  kVlanIsolation = 214,
  kPortalDomain = 215,
};

// Vendor elements of the IEEE 802.11 WLAN and Station Configuration
// Requests (and the IP-based VLAN table of a Configuration Update). Some
// numbers name other data in the AP's reports.
enum : uint16_t {
  kWlanSwitch80 = 80,
  kIpBasedVlan = 87,
  kWlanSwitch123 = 123,
  kWlanValue124 = 124,
  kWlanValue125 = 125,
  kStationSetting130 = 130,
  kWlanSwitch133 = 133,
  kWlanValue134 = 134,
  kChannelWidth = 139,
  kWlanWebPage = 180,
  kWlanRemoteAp = 200,
  kWlanMediaGuarantee = 201,
};

// Vendor elements of the Configuration Update Requests relayed from WMAC.
enum : uint16_t {
  kEnvMonitor = 80,
  kRfid = 81,
  kUrlImage = 84,
  kDpiServer = 86,
  kGtkUpdate = 89,
  kStaSync = 90,
  kDnsServers = 91,
  kNormalCollection = 93,
  kRtCollectTime = 96,
  kReceiveSignal = 98,
  kClientSignal = 99,
  kBlockChannel = 113,
  kRoamingSignal = 118,
  kBss11v = 119,
};

}  // namespace capwap::vendor_elem
