#include "transport/elements.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace capwap::elem {
namespace {

// Sorted by number; a number with two meanings shows its general one.
constexpr std::pair<uint16_t, const char*> kNames[] = {
    {kAcDescriptor, "AC Descriptor"},
    {kAcIpv4List, "AC IPv4 List"},
    {kAcIpv6List, "AC IPv6 List"},
    {kAcName, "AC Name"},
    {kAcNameWithPriority, "AC Name with Priority"},
    {kAcTimestamp, "AC Timestamp"},
    {kAddMacAclEntry, "Add MAC ACL Entry"},
    {kAddStation, "Add Station"},
    {kCapwapControlIpv4Address, "CAPWAP Control IPv4 Address"},
    {kCapwapControlIpv6Address, "CAPWAP Control IPv6 Address"},
    {kCapwapTimers, "CAPWAP Timers"},
    {kDataTransferData, "Data Transfer Data"},
    {kDataTransferMode, "Data Transfer Mode"},
    {kDecryptionErrorReportPeriod, "Decryption Error Report Period"},
    {kDeleteMacAclEntry, "Delete MAC ACL Entry"},
    {kDeleteStation, "Delete Station"},
    {kDiscoveryType, "Discovery Type"},
    {kDuplicateIpv6Address, "Duplicate IPv6 Address"},
    {kIdleTimeout, "Idle Timeout"},
    {kImageData, "Image Data"},
    {kImageIdentifier, "Image Identifier"},
    {kImageInformation, "Image Information"},
    {kInitiateDownload, "Initiate Download"},
    {kLocationData, "Location Data"},
    {kCapwapLocalIpv4Address, "CAPWAP Local IPv4 Address"},
    {kRadioAdministrativeState, "Radio Administrative State"},
    {kRadioOperationalState, "Radio Operational State"},
    {kResultCode, "Result Code"},
    {kReturnedMessageElement, "Returned Message Element"},
    {kSessionId, "Session ID"},
    {kStatisticsTimer, "Statistics Timer"},
    {kVendorSpecificPayload, "Vendor Specific Payload"},
    {kWtpBoardData, "WTP Board Data"},
    {kWtpDescriptor, "WTP Descriptor"},
    {kWtpFallback, "WTP Fallback"},
    {kWtpFrameTunnelMode, "WTP Frame Tunnel Mode"},
    {kWtpMacType, "WTP MAC Type"},
    {kWtpName, "WTP Name"},
    {kWtpRadioStatistics, "WTP Radio Statistics"},
    {kWtpRebootStatistics, "WTP Reboot Statistics"},
    {kWtpStaticIpAddressInformation, "WTP Static IP Address Information"},
    {kCapwapLocalIpv6Address, "CAPWAP Local IPv6 Address"},
    {kCapwapTransportProtocol, "CAPWAP Transport Protocol"},
    {kDnsServers, "DNS Servers"},
    {kEcnSupport, "ECN Support"},
    {kN2nServer, "n2n Server"},
    {kStationIp, "Station IP"},
    {kStationTraffic, "Station Traffic"},
    {kCloudServer, "Cloud Server"},
    {kLedMode, "LED Mode"},
    {kSpecificStationDeletionTail, "Specific Station Deletion (tail)"},
    {kVirtualAp, "Virtual AP"},
    {kAntennaType, "Antenna Type"},
    {kMeshRole, "Mesh Role"},
    {kL2Acl, "Layer-2 ACL"},
    {kRetransmitInterval, "Retransmit Interval"},
    {kLanPortAdmin, "LAN Port Admin"},
    {kMaxRetransmissions, "Maximum Retransmissions"},
    {kWtpCapabilities, "WTP Capabilities"},
    {kIeee80211AddWlan, "IEEE 802.11 Add WLAN"},
    {kIeee80211Antenna, "IEEE 802.11 Antenna"},
    {kIeee80211AssignedWtpBssid, "IEEE 802.11 Assigned WTP BSSID"},
    {kIeee80211DeleteWlan, "IEEE 802.11 Delete WLAN"},
    {kIeee80211DirectSequenceControl, "IEEE 802.11 Direct Sequence Control"},
    {kIeee80211InformationElement, "IEEE 802.11 Information Element"},
    {kIeee80211MacOperation, "IEEE 802.11 MAC Operation"},
    {kIeee80211MicCountermeasures, "IEEE 802.11 MIC Countermeasures"},
    {kIeee80211MultiDomainCapability, "IEEE 802.11 Multi-Domain Capability"},
    {kIeee80211OfdmControl, "IEEE 802.11 OFDM Control"},
    {kIeee80211RateSet, "IEEE 802.11 Rate Set"},
    {kIeee80211RsnaErrorReportFromStation, "IEEE 802.11 RSNA Error Report From Station"},
    {kIeee80211Station, "IEEE 802.11 Station"},
    {kIeee80211StationQosProfile, "IEEE 802.11 Station QoS Profile"},
    {kIeee80211StationSessionKey, "IEEE 802.11 Station Session Key"},
    {kIeee80211Statistics, "IEEE 802.11 Statistics"},
    {kIeee80211SupportedRates, "IEEE 802.11 Supported Rates"},
    {kIeee80211TxPower, "IEEE 802.11 Tx Power"},
    {kIeee80211TxPowerLevel, "IEEE 802.11 Tx Power Level"},
    {kIeee80211UpdateStationQos, "IEEE 802.11 Update Station QoS"},
    {kIeee80211UpdateWlan, "IEEE 802.11 Update WLAN"},
    {kIeee80211WtpQualityOfService, "IEEE 802.11 WTP Quality of Service"},
    {kIeee80211WtpRadioConfiguration, "IEEE 802.11 WTP Radio Configuration"},
    {kIeee80211WtpRadioFailAlarmIndication, "IEEE 802.11 WTP Radio Fail Alarm Indication"},
    {kIeee80211WtpRadioInformation, "IEEE 802.11 WTP Radio Information"},
    {kWlanSetting1073, "WLAN Setting 1073"},
};
static_assert(std::is_sorted(std::begin(kNames), std::end(kNames),
                             [](const auto& a, const auto& b) { return a.first < b.first; }));

}  // namespace

const char* Name(uint16_t type) {
  if (type >= kFirstOpaqueRadio && type <= kLastOpaqueRadio) return "Radio (opaque)";
  const auto* it = std::lower_bound(std::begin(kNames), std::end(kNames), type,
                                    [](const auto& row, uint16_t t) { return row.first < t; });
  return it != std::end(kNames) && it->first == type ? it->second : "Unknown";
}

}  // namespace capwap::elem
