#pragma once
// Whether anything answers at a TCP address, asked before a client library connects there: a
// client waits for the system's own connect timeout (about two minutes on Linux) when nothing
// answers at all, whatever time bound it was given for the server's reply.

#include <string>

// False when nothing came back within `seconds` from any address of `host` at `port` (a number
// or a service name): no connection made, none refused, as for an address that no host answers
// or a firewall that drops. True when a connection was made, and also when every address failed
// at once or the host cannot be resolved: whoever connects next reports that in its own words.
bool TcpAddressAnswers(const std::string& host, const std::string& port, double seconds);
