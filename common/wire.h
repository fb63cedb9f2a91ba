#pragma once

// The messages between qev and its driver host, the child process in which SANE and every
// backend run (host/). They travel over a SOCK_SEQPACKET socket pair, one message a
// packet, so that a packet is never split or merged; a page file's descriptor rides along
// with the message that hands it over.
//
// Every message names the SANE device it is about (for `browse`, the identifier of the one
// scanner a scan looks for, or empty) and carries the same fields; each kind reads only those
// it needs. The encoding is private to this file pair:
// both ends are built together, so there is no versioning. A packet that does not decode is
// a broken host.
//
// Page files are qev's alone: qev makes each one, hands over its descriptor with `file`, and
// removes it unless the host reports it `scanned`. The host only writes into it; it never
// names, moves or removes a file. Files are reported in the order they were handed over:
// `scanned` names the oldest file not yet reported. The host may ask for the next page's file
// (`needFile`) while the page before is still being written, but it writes nothing into that
// file, and does not start the scanner for it, until the page before is reported. So at most
// two files are unreported at once, the page being written and the next page's file, still
// empty; a third `needFile` while two are is out of turn. It reports `scanned` at most once
// for each `file` it got, never after `noFile`, and before the scan's `completed` or `lost`.
// A page that is cut off (a stop, a failure) is simply not reported, and neither is any page
// after it.
//
// A scan whose job asks for it reports `progress` for each page it reads, the page counted
// from 1 in the scan: only for a page whose file it holds, and never after that page's
// `scanned`. The reports of one page follow the order of its lines read.

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/descriptor.h"
#include "common/error.h"
#include "common/resolutions.h"
#include "common/units.h"

namespace qev::wire {

enum class Kind : std::uint8_t {
  // qev to the host.
  browse,  // start discovery; `probe`: open harmless devices to learn their units
  open,
  select,  // `unit`
  scan,    // `job`
  file,    // the next page file: its descriptor rides along
  noFile,  // no page file could be made: `error`
  cancel,  // stop the session's work now, also from inside a blocking call
  close,   // end the session and answer `closed`

  // The host to qev.
  ready,      // first of all: `texts`
  added,      // `info`
  removed,    // gone from SANE's list
  units,      // a probe learnt the units: `info.units`
  opened,     // `error` or `info.units`
  selected,   // `unitInfo`, `error`
  needFile,   // a page is about to be read: answer `file` or `noFile`
  progress,   // how far a page has come: `progress`, for a `job` that asked for it
  scanned,    // the oldest page file not yet reported is complete
  completed,  // the scan is over: `error`
  lost,       // the device went away during the session
  closed,
  reading,  // a page has started and its data comes: again at most four times a second
};
inline constexpr Kind lastKind = Kind::reading;

// A device as SANE lists it, with the texts its record is made of. The host tells them all
// from SANE's listing (host/identity.h); qev shows them as they come.
struct DeviceInfo {
  std::string name;  // "test:0", "net:127.0.0.1:test:0" …, as SANE spells it (any bytes)
  std::string vendor;
  std::string model;
  std::string type;                        // "flatbed scanner", "virtual device" …
  std::optional<std::string> uuid;         // a stable identity, where one can be derived
  std::string transport;                   // "usb", "network", "scsi", "virtual" or ""
  std::optional<std::string> displayName;  // vendor and model; none when both are empty
  std::vector<UnitType> units;
};

// What a unit offers, read when it is selected.
struct UnitInfo {
  UnitType type = flatbedUnit;
  Resolutions supported;
  Resolutions preferred;
  bool duplex = false;
  Size physical;  // the largest scan area, in mm
};

// SANE's texts for what qev reports without an answer of the host's: a stop before any
// session began, or of a session whose host had to be killed, and a request out of turn. The
// host sends them as soon as it runs, so that qev copies none of SANE's texts.
struct Texts {
  std::string cancelled;  // SANE's text for a cancel
  std::string invalid;    // SANE's text for an invalid argument
};

// Everything a scan needs, from the session's settings.
struct ScanJob {
  UnitType unit = flatbedUnit;
  std::optional<std::int64_t> dpi;
  PixelType pixelType = rgbPixels;
  int depth = bitDepth8;
  bool duplex = false;
  std::optional<Area> area;  // flatbeds; a feeder scans its whole range
  bool progress = false;     // report `progress` while pages are read
};

struct Message {
  Kind kind = Kind::browse;
  std::string device;
  bool probe = false;
  UnitType unit = flatbedUnit;
  ScanJob job;
  DeviceInfo info;
  UnitInfo unitInfo;
  PageProgress progress;
  Texts texts;
  std::optional<Error> error;
};

std::vector<unsigned char> encode(const Message& message);
// None when the bytes are not a message.
[[nodiscard]] std::optional<Message> decode(std::span<const unsigned char> bytes);

// Sends one message, with `fd` passed along when it is not -1. False when the other end is
// gone. Safe from several threads at once: a packet goes out whole.
bool send(int socket, const Message& message, int fd = -1);
// Sends `bytes` as one packet, with `fd` passed along when it is not -1: what `send` does with
// an encoded message, for the host's own packets that are not messages.
bool sendBytes(int socket, std::span<const unsigned char> bytes, int fd = -1);

// One packet as it came: its size (0 at the end of the stream, -1 on a failure), whether it or
// its descriptors were cut to fit, and every descriptor that came with it.
struct Incoming {
  ssize_t size = -1;
  bool truncated = false;
  std::vector<Descriptor> fds;
};
// Receives one packet into `into`: what `receive` does before decoding, for the host's own
// packets that are not messages.
Incoming receiveBytes(int socket, std::span<unsigned char> into);

struct Received {
  Message message;
  Descriptor fd;  // the descriptor that came with it, if one did
};
// Why `receive` gave no message.
enum class Silence {
  ended,      // the other end has gone, or the socket failed
  malformed,  // a packet that is no message, or one with more than one descriptor (every
              // descriptor that came with it is closed)
};
// Waits for the next message. None at the end of the stream, on an error, or when a packet
// does not decode; `why`, when given, says which.
[[nodiscard]] std::optional<Received> receive(int socket, Silence* why = nullptr);

}  // namespace qev::wire
