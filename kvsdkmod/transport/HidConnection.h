// The hardware connections, written once above the platform's HidBackend: the choice of a
// device's lighting collection, the framed reports of every Set, Get and tunnel write, one lock
// per physical node, and the hardware trace (KVSDK_HW_TRACE).
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "kvsdkmod/transport/Transport.h"

namespace kvsdkmod::transport {

// The lock of one physical node, shared by every connection open on it in the process: a Get's
// request and answer are one exchange that no Set or Get of another connection may split.
std::shared_ptr<std::mutex> NodeLock(const std::string& nodeName);

// The lighting collection chosen among a device's nodes.
struct LightingChoice {
    HRESULT result = kNoLightingCollection;
    std::string detail;  // the node and framing chosen, or why none
    std::string osError;
    std::unique_ptr<HidNode> node;
    std::string nodeName;
    CollectionInfo collection;
};

// Walks the candidates in order, skipping those on another interface than the framing names: the
// first node that has a collection of the framing's usage page is the lighting node, provided
// that collection declares the framing's reports (else kFramingMismatch). When no node has one,
// the first failure to open a node is the answer (access denied, the node is another device);
// with none, kNoLightingCollection.
LightingChoice ChooseLighting(HidBackend& backend, const Framing& framing,
                              const std::vector<NodeCandidate>& candidates, uint16_t vendorId,
                              uint16_t productId);

// What Init on 'path' opens, over 'backend'; traced on the hardware channel.
DeviceOpenResult OpenDeviceOver(HidBackend& backend, const std::wstring& path);
// What Connect opens, over 'backend'; traced on the hardware channel.
ChannelOpenResult ConnectChannelOver(HidBackend& backend, int vendorId, int productId);

}  // namespace kvsdkmod::transport
