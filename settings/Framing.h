#pragma once

#include "framing/Framer.h"

// The log's framing for one kind of link: section [Framing], keys prefixed
// with the link ("TcpMode", "SerialDelimiter", ...). Missing keys are
// written with their defaults; a serial line cuts lines unless told
// otherwise, a TCP stream shows its reads as they came.
enum class FramedLink { Tcp, Serial };

FramingOptions LoadFraming(FramedLink link);
void SaveFraming(FramedLink link, const FramingOptions& options);
