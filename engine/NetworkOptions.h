#pragma once

#include "engine/ConnectionSettings.h"

#include <string>
#include <vector>

// One unicast address of this machine and the adapter that has it.
struct AdapterAddress {
    std::wstring address; // numeric, IPv6 without brackets
    std::wstring adapter; // the adapter's own name, as the system shows it
    bool v6 = false;
};

// IPv4 addresses first, then IPv6, each in the system's order; adapters
// that are down are left out.
std::vector<AdapterAddress> MachineAddresses();

// The local address list's first choice.
extern const wchar_t* const kAllAddressesText;
// "192.168.1.5 (Ethernet)"
std::wstring AddressChoiceText(const AdapterAddress& address);
// The address of a choice, or the text as typed; empty for all addresses.
std::wstring AddressOfChoice(const std::wstring& text);

// The dialog's boxes as typed.
struct NetworkOptionTexts {
    std::wstring localAddress;
    std::wstring localPort;
    std::wstring multicastGroup;
    std::wstring multicastTtl;
    bool multicastLoopback = true;
    bool acceptAnyCertificate = false;
    std::wstring certificateFile;
};

NetworkOptionTexts TextsFor(const NetworkOptions& options);
// Why the boxes cannot be used, as the dialog says it; empty when they can,
// and `options` then holds them. Addresses are numeric only, as everywhere.
std::wstring ReadNetworkOptions(const NetworkOptionTexts& texts, NetworkOptions& options);
