// Pure readers of the device facts' texts, kept apart from the commands and files around them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace brim {

// "days;hours;minutes;seconds" of an uptime in seconds, into buf (cap bytes, terminated).
void format_uptime(uint32_t seconds, char *buf, size_t cap);

// Combined size of mtd0, mtd1 and mtd2 in a /proc/mtd listing, in whole mebibytes.
uint32_t flash_size_mib(std::string_view listing);

enum class PortLine { Skip, Stop, Down, Up };
// What one line of the port status listing says: a "Port" heading is skipped, a line without
// "Link" ends the listing, otherwise the link is up when "Up" follows "Link".
PortLine classify_port_line(std::string_view line);

// The port link text has room for this many "d," entries; further ports are left out.
inline constexpr size_t kMaxPorts = 32;

}  // namespace brim
