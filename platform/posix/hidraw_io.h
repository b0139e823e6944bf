// Report I/O on a hidraw file descriptor, kept apart from udev so that it can
// run against any descriptor (a socket pair stands in for the device node in
// the tests).
#pragma once

#include <cstddef>
#include <cstdint>

namespace km4r::platform::hidraw {

// Whether the device puts a report id in front of its input reports. hidraw
// passes that byte on only for devices with numbered reports; the link wants
// the same layout everywhere, id byte first (0 when the device has none).
enum class ReportIds { Unknown, None, Numbered };

// Scans a HID report descriptor for a Report ID item.
ReportIds ReportIdsFromDescriptor(const uint8_t* descriptor, std::size_t len);

// Puts n bytes read from the device into the report layout of len bytes:
// unnumbered reports get a 0 id in front; what does not fit is dropped and
// what is missing reads 0. With Unknown, a read one byte short of len is
// taken to lack its id.
void PlaceReport(const uint8_t* data, std::size_t n, ReportIds ids, uint8_t* report,
                 std::size_t len);

// Vendor and product id of the device behind fd, asked of the node itself
// (HIDIOCGRAWINFO). False for a descriptor that is no hidraw node.
bool ReadDeviceIds(int fd, uint16_t* vendorId, uint16_t* productId);

// Vendor and product id from udev's HID_ID text, "BUS:VENDOR:PRODUCT" in hex
// (0003:000004D8:0000FCE7). False when the text is not of that form.
bool ParseHidId(const char* text, uint16_t* vendorId, uint16_t* productId);

enum class ReadOutcome { Report, NotYet, Failed, Malformed };

// One non-blocking read. Report: `report` holds a complete report. NotYet: no
// report waiting (nothing written). Failed: the descriptor is unusable (the
// device has gone, or it is not open for reading). Malformed: a report came
// that does not fill the layout of len bytes exactly; dropped, nothing written.
ReadOutcome ReadReport(int fd, ReportIds ids, uint8_t* report, std::size_t len);

// Waits at most timeoutMs for a report and reads it; NotYet on time-out.
ReadOutcome WaitReport(int fd, uint32_t timeoutMs, ReportIds ids, uint8_t* report, std::size_t len);

// Writes one output report, id byte first as hidraw expects. True when the
// whole report was taken.
bool WriteReport(int fd, const uint8_t* report, std::size_t len);

}  // namespace km4r::platform::hidraw
