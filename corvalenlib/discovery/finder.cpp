// SPDX-License-Identifier: MIT
#include "corvalenlib/discovery/finder.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <set>
#include <thread>

#include "corvalenlib/discovery/discovery.h"
#include "corvalenlib/discovery/identify.h"
#include "corvalenlib/discovery/mdns_browse.h"
#include "corvalenlib/core/resource.h"

namespace CorvalenLib {
namespace {

// Responders asked at once at most; a LAN with more gets a note.
constexpr int kMaxResponders = 64;
// Links a gateway is asked to open at once while its bus is searched.
constexpr int kGatewayParallel = 8;

// Runs probe(i) for i in [first, last], parallel at most at once, skipping
// what is not started when the search is cancelled.
void forEachParallel(int first, int last, int parallel, const FindReport& report,
                     const std::function<void(int)>& probe) {
    std::atomic<int> next{first};
    std::vector<std::jthread> workers;
    const int count = std::min(parallel, last - first + 1);
    for (int w = 0; w < count; ++w) {
        workers.emplace_back([&] {
            for (int i = next++; i <= last && !report.cancelled(); i = next++) probe(i);
        });
    }
}

IoLimits listenerLimits(const FindPlan& plan) {
    IoLimits limits = plan.lanLimits;
    limits.timeout = plan.listenerTimeout;
    return limits;
}

std::string vxiResource(const std::string& host, const std::string& device) {
    return "TCPIP0::" + host + "::" + device + "::INSTR";
}

void findBehindGateway(const std::string& host, const FindPlan& plan, FindReport& report) {
    report.addWork(kLastListener - kFirstListener + 1);
    const IoLimits limits = listenerLimits(plan);
    forEachParallel(kFirstListener, kLastListener, kGatewayParallel, report, [&](int address) {
        const std::string device = "gpib0," + std::to_string(address);
        const auto identity = identifyResolved(VxiAddress{0, host, device}, limits, plan.serial);
        if (identity.answered && !report.cancelled()) {
            report.found({FoundEntry::Kind::Instrument, vxiResource(host, device), identity.text});
        }
        report.workDone(1);
    });
}

void askResponder(const Responder& responder, const FindPlan& plan, FindReport& report) {
    const std::string resource = vxiResource(responder.address, "inst0");
    if (!report.claim(resource)) {
        report.workDone(1);
        return;
    }
    const auto identity = identifyResolved(VxiAddress{0, responder.address, "inst0"}, plan.lanLimits, plan.serial);
    if (identity.answered) {
        report.found({FoundEntry::Kind::Instrument, resource, identity.text});
    } else if (identity.text.find("device not accessible") != std::string::npos) {
        // A LAN/GPIB gateway has no inst0; its instruments are gpib0,<address>.
        report.found({FoundEntry::Kind::Gateway, "TCPIP0::" + responder.address + "::gpib0::INTFC",
                      "VXI-11 LAN/GPIB gateway, interface gpib0"});
        findBehindGateway(responder.address, plan, report);
    } else {
        report.found({FoundEntry::Kind::Silent, resource, identity.text});
    }
    report.workDone(1);
}

}  // namespace

void findOnLan(const FindPlan& plan, FindReport& report) {
    report.addWork(1);
    std::vector<std::jthread> askers;
    std::atomic<bool> stop{false};
    const std::string failure = broadcastGetport(plan.broadcastWindow, stop, [&](const Responder& responder) {
        if (report.cancelled()) stop = true;
        if (stop) return;
        if (static_cast<int>(askers.size()) == kMaxResponders) {
            report.note("VXI-11: more than " + std::to_string(kMaxResponders) + " responders; the rest not asked");
            stop = true;
            return;
        }
        report.addWork(1);
        askers.emplace_back([responder, &plan, &report] { askResponder(responder, plan, report); });
    });
    if (!failure.empty()) report.note(failure);
    report.workDone(1);
}

void findByMdns(const FindPlan& plan, FindReport& report) {
    report.addWork(1);
    std::vector<std::jthread> askers;
    std::atomic<bool> stop{false};
    const std::string failure = browseMdns(plan.mdnsWindow, stop, [&](const MdnsService& service) {
        if (report.cancelled()) stop = true;
        const bool raw = service.type == "_scpi-raw._tcp";
        const std::string resource = raw ? "TCPIP0::" + service.address + "::" + std::to_string(service.port) + "::SOCKET"
                                         : vxiResource(service.address, "inst0");
        if (stop || static_cast<int>(askers.size()) == kMaxResponders || !report.claim(resource)) return;
        report.addWork(1);
        askers.emplace_back([resource, &plan, &report] {
            const auto identity = identify(resource, plan.lanLimits, plan.serial);
            report.found({identity.answered ? FoundEntry::Kind::Instrument : FoundEntry::Kind::Silent, resource,
                          identity.text});
            report.workDone(1);
        });
    });
    if (!failure.empty()) report.note(failure);
    report.workDone(1);
}

void findGpibListeners(const FindPlan& plan, FindReport& report) {
    if (!plan.gpibBoard) return;
    const std::string board = "GPIB" + std::to_string(*plan.gpibBoard);
    report.addWork(kLastListener - kFirstListener + 1);
    const IoLimits limits = listenerLimits(plan);
    int answered = 0;
    std::set<std::string> failures;
    // The same failure to open at every address: the board itself cannot be
    // opened (no linux-gpib, no controller at the bound host), so no
    // listener was asked at all.
    std::set<std::string> openFailures;
    int notOpened = 0;
    // One address after the other: a Prologix controller or a linux-gpib
    // board carries one conversation at a time.
    for (int address = kFirstListener; address <= kLastListener && !report.cancelled(); ++address) {
        const std::string resource = board + "::" + std::to_string(address) + "::INSTR";
        const auto identity = identify(resource, limits, plan.serial);
        if (identity.answered) {
            ++answered;
            report.found({FoundEntry::Kind::Instrument, resource, identity.text});
        } else {
            if (identity.text.starts_with("open: ") && openFailures.size() < 2) {
                ++notOpened;
                openFailures.insert(identity.text);
            }
            if (!identity.timedOut && failures.size() < 3) failures.insert(identity.text);
        }
        report.workDone(1);
    }
    if (report.cancelled()) return;
    if (notOpened == kLastListener - kFirstListener + 1 && openFailures.size() == 1) {
        report.note(board + ": could not be opened, so no address was asked: " + openFailures.begin()->substr(6));
    } else if (answered == 0) {
        std::string text = board + ": no listener answered at addresses 1 to 30";
        for (const auto& failure : failures) text += "; " + failure;
        report.note(text);
    }
}

void findSerialPorts(const FindPlan& plan, FindReport& report) {
    if (!plan.probeSerialPorts) {
        for (const auto& port : plan.serialPorts) {
            report.found({FoundEntry::Kind::SerialPort, serialResourceFor(port),
                          "serial port, not asked (tick \"Probe serial ports\" to look for Prologix controllers)"});
        }
        return;
    }
    report.addWork(static_cast<int>(plan.serialPorts.size()));
    forEachParallel(0, static_cast<int>(plan.serialPorts.size()) - 1, kMaxResponders, report, [&](int index) {
        const std::string& port = plan.serialPorts[static_cast<std::size_t>(index)];
        const std::string path = port.starts_with('/') ? port : "/dev/" + port;
        if (const auto version = prologixVersionAt(path, plan.serialTimeout)) {
            report.found({FoundEntry::Kind::Controller, "PRLGX-ASRL" + path + "::INTFC", *version});
        } else {
            report.found({FoundEntry::Kind::SerialPort, serialResourceFor(port), "serial port, no answer to ++ver"});
        }
        report.workDone(1);
    });
}

}  // namespace CorvalenLib
