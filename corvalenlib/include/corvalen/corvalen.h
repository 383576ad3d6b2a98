// SPDX-License-Identifier: MIT
// corvalen: instruments addressed by VISA resource strings, over TCP
// sockets, VXI-11, serial lines, linux-gpib and Prologix controllers.
//
//   #include <corvalen/corvalen.h>
//   corvalen::Instrument dev = corvalen::open("GPIB0::9::INSTR");
//   dev.setTimeout(std::chrono::seconds(5));
//   std::string idn = dev.query("*IDN?");
//
// Names are resolved as the tq820-scan program resolves them: an alias from
// CORVALEN_IO_ALIASES or the aliases file first
// ($XDG_CONFIG_HOME/corvalen/aliases.conf), then the binding of a GPIB board
// to a controller, then the session the resource's kind calls for. Every
// failure is an IoError (a TimeoutError for a time-out, a ResourceError for a
// malformed name) whose text names the resource, the operation and the cause.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <corvalen/errors.h>
#include <corvalen/export.h>
#include <corvalen/serial_settings.h>

namespace corvalen {

// The library's version, "0.3.0".
[[nodiscard]] CORVALEN_API std::string version();

struct OpenOptions {
    // For each reply, and for each command to be taken.
    std::chrono::milliseconds timeout{10'000};
    // For the name lookup and the connection, together.
    std::chrono::milliseconds connectTimeout{5'000};
    // For ASRL resources and Prologix GPIB-USB controllers.
    SerialSettings serial;
    // Off: the name is taken as it stands; no alias or board binding applies.
    bool useAliases = true;
    // One line on standard error for each open, write, reply and failure.
    // CORVALEN_IO_TRACE=1 in the environment switches it on as well.
    bool trace = false;
};

// How an open instrument was reached.
struct Route {
    std::string requested;   // the name as given to open()
    std::string resource;    // the canonical name of what was opened
    std::string alias;       // the alias's resource when the name was an alias, else empty
    std::string controller;  // the controller the GPIB board is bound to, else empty
};

// One open connection to an instrument. Movable, not copyable; closed on
// destruction. Not for use from two threads at once.
class CORVALEN_API Instrument {
public:
    Instrument() noexcept;  // closed
    ~Instrument();
    Instrument(Instrument&& other) noexcept;
    Instrument& operator=(Instrument&& other) noexcept;
    Instrument(const Instrument&) = delete;
    Instrument& operator=(const Instrument&) = delete;

    // Sends command with a line end added.
    void write(std::string_view command);
    // Sends bytes exactly as given; they must end the message themselves.
    void writeRaw(std::string_view bytes);
    // One reply, without its line end (LF, or CR LF).
    [[nodiscard]] std::string read();
    // One reply with its line end, as it came.
    [[nodiscard]] std::string readRaw();
    // write(command), then read().
    [[nodiscard]] std::string query(std::string_view command);
    // Device clear: drops what the instrument and the line hold unread.
    void clear();
    // Safe to call again, and on a closed instrument.
    void close() noexcept;

    void setTimeout(std::chrono::milliseconds timeout);
    // Switches the trace of OpenOptions on or off for what follows.
    void setTrace(bool on);
    [[nodiscard]] std::chrono::milliseconds timeout() const;

    [[nodiscard]] bool isOpen() const noexcept;
    // "GPIB", "ASRL" or "TCPIP": the interface of the resource as named.
    [[nodiscard]] std::string interfaceType() const;
    // The canonical name of the open resource, "GPIB0::9::INSTR".
    [[nodiscard]] std::string resourceName() const;
    [[nodiscard]] Route route() const;

private:
    struct State;
    CORVALEN_LOCAL explicit Instrument(std::unique_ptr<State> state) noexcept;
    // The state of an open instrument; raises IoError naming operation when closed.
    [[nodiscard]] CORVALEN_LOCAL State* stateOrThrow(std::string_view operation) const;
    friend CORVALEN_API Instrument open(const std::string& resource, const OpenOptions& options);

    std::unique_ptr<State> state_;
};

// Opens resource (an alias, a VISA resource string). Raises ResourceError for
// a malformed name, alias or board binding, TimeoutError when the connection
// was not made within connectTimeout, else IoError.
[[nodiscard]] CORVALEN_API Instrument open(const std::string& resource, const OpenOptions& options = {});

// A resource string taken apart, without opening anything.
struct ResourceInfo {
    std::string canonical;      // "TCPIP0::lab-dmm::5025::SOCKET"
    std::string interfaceType;  // "GPIB", "ASRL", "TCPIP", "USB"
    int interfaceNumber = 0;    // the board of GPIB0, TCPIP0; n of ASRLn, 0 for a device path
    std::string resourceClass;  // "INSTR", "SOCKET" or "INTFC"
    std::string host;           // TCPIP and Prologix over TCP
    std::uint16_t port = 0;     // TCPIP SOCKET and Prologix over TCP
    std::string device;         // a VXI-11 device name, a serial device path
    int primaryAddress = -1;    // GPIB
    int secondaryAddress = -1;  // GPIB, -1 for none
    std::string controller;     // "PRLGX" for a Prologix controller, else empty
};

// Parses a resource or interface name strictly. Raises ResourceError that
// states the expected syntax.
[[nodiscard]] CORVALEN_API ResourceInfo parseResource(const std::string& resource);

// An alias or board binding in force.
struct AliasEntry {
    std::string name;      // "bench", "GPIB0::INTFC"
    std::string resource;  // what it stands for
    std::string origin;    // "CORVALEN_IO_ALIASES" or "<file>:<line>"
};

struct AliasTable {
    std::vector<AliasEntry> entries;  // in the order they are looked up
    // Each malformed line or unreadable file: "<file>:3: <what>; skipped".
    std::vector<std::string> problems;
    std::string file;  // the aliases file's path; empty when no home is known
};

[[nodiscard]] CORVALEN_API AliasTable aliases();

// Binds GPIB board to controller in the aliases file ("PRLGX-TCPIP::host::INTFC",
// "PRLGX-ASRL/dev/ttyUSB0::INTFC", "TCPIP::gateway::gpib0::INTFC"), or removes
// the binding for an empty controller. Raises ResourceError for a malformed
// board or controller, IoError when the file cannot be written.
CORVALEN_API void bindBoard(int board, const std::string& controller);

// What a search found.
struct Found {
    enum class Kind { Instrument, Gateway, Controller, SerialPort, Silent };
    Kind kind = Kind::Instrument;
    std::string resource;  // the resource string to open it by
    std::string identity;  // its "*IDN?" reply, or what it is
    std::string how;       // "LAN broadcast", "mDNS", "GPIB0 listener", "serial port"
};

struct FindOptions {
    bool lan = true;   // the VXI-11 broadcast on every IPv4 interface
    bool mdns = true;  // _lxi._tcp, _vxi-11._tcp and _scpi-raw._tcp through Avahi
    std::optional<int> gpibBoard;  // the listeners at addresses 1 to 30 of this board
    bool serial = false;           // the serial ports that exist
    bool probeSerial = false;      // write "++ver" to each serial port
    std::chrono::milliseconds timeout{12'000};  // the whole search
    SerialSettings serialSettings;
};

// Searches as the Select I/O dialog does and calls onFound for each entry as
// soon as it is known, from the calling thread; onNote gets lines about the
// search itself (no Avahi daemon, a board that cannot be opened). Returns
// within options.timeout and a little over. Either callback may be empty.
CORVALEN_API void find(const FindOptions& options, const std::function<void(const Found&)>& onFound,
                       const std::function<void(const std::string&)>& onNote = {});

}  // namespace corvalen
