#include "device_channel.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace juxhid::winekernel {

bool DeviceChannel::connect(uint16_t port) {
    WSADATA data{};
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
    const SOCKET handle = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (handle == INVALID_SOCKET) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(handle, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        closesocket(handle);
        return false;
    }
    const BOOL yes = TRUE;
    setsockopt(handle, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&yes), sizeof yes);
    socket_ = handle;
    return true;
}

void DeviceChannel::close() {
    if (socket_ == INVALID_SOCKET) return;
    const std::string bye = "bye\n";
    ::send(socket_, bye.data(), static_cast<int>(bye.size()), 0);
    closesocket(socket_);
    socket_ = INVALID_SOCKET;
    WSACleanup();
}

bool DeviceChannel::readLine(std::string* line) {
    line->clear();
    char byte = 0;
    for (;;) {
        if (::recv(socket_, &byte, 1, 0) != 1) return false;
        if (byte == '\n') return true;
        line->push_back(byte);
    }
}

// The first line of the answer; "error ..." when the line broke.
std::string DeviceChannel::ask(const std::string& order) {
    const std::string line = order + "\n";
    if (::send(socket_, line.data(), static_cast<int>(line.size()), 0) != static_cast<int>(line.size()))
        return "error the device side is not there";
    std::string answer;
    if (!readLine(&answer)) return "error no answer from the device side";
    if (answer.rfind("ok", 0) != 0) std::fprintf(stderr, "device side: %s: %s\n", order.c_str(), answer.c_str());
    return answer;
}

bool DeviceChannel::plug(const std::string& name, const std::string& kind, uint16_t vendor, uint16_t product) {
    char order[160];
    std::snprintf(order, sizeof order, "plug %s %s %x %x", name.c_str(), kind.c_str(), vendor, product);
    return ask(order).rfind("ok", 0) == 0;
}

bool DeviceChannel::unplug(const std::string& name) { return ask("unplug " + name).rfind("ok", 0) == 0; }

double DeviceChannel::send(const std::string& name, uint32_t first, uint32_t count, uint32_t pauseUs) {
    const std::string answer = ask("send " + name + " " + std::to_string(first) + " " + std::to_string(count) +
                                   " " + std::to_string(pauseUs));
    if (answer.rfind("ok ", 0) != 0) return -1.0;
    return std::atof(answer.c_str() + 3);
}

std::vector<DeviceOutput> DeviceChannel::outputs(const std::string& name, size_t count, uint32_t limitMs) {
    const std::string answer =
        ask("outputs " + name + " " + std::to_string(count) + " " + std::to_string(limitMs));
    std::vector<DeviceOutput> got;
    if (answer.rfind("ok ", 0) != 0) return got;
    const long lines = std::atol(answer.c_str() + 3);
    for (long at = 0; at < lines; ++at) {
        std::string line;
        if (!readLine(&line)) break;
        std::istringstream words(line);
        std::string hex;
        long long us = 0;
        words >> hex >> us;
        DeviceOutput output{{}, static_cast<double>(us) / 1000.0};
        for (size_t pair = 0; pair + 1 < hex.size(); pair += 2)
            output.bytes.push_back(static_cast<uint8_t>(std::strtoul(hex.substr(pair, 2).c_str(), nullptr, 16)));
        got.push_back(std::move(output));
    }
    return got;
}

// The answer is awaited by yielding rather than blocking: a blocking
// receive under Wine waits through its server, which stretched the round
// trip (and so the clock offset's uncertainty) to a scheduler tick or more.
int64_t DeviceChannel::clockNs() {
    const std::string order = "clock\n";
    if (::send(socket_, order.data(), static_cast<int>(order.size()), 0) != static_cast<int>(order.size())) return -1;
    u_long nonBlocking = 1;
    ioctlsocket(socket_, FIONBIO, &nonBlocking);
    std::string answer;
    for (int spins = 0; spins < 10'000'000; ++spins) {
        char byte = 0;
        const int got = ::recv(socket_, &byte, 1, 0);
        if (got == 1 && byte == '\n') break;
        if (got == 1) answer.push_back(byte);
        else if (got == 0 || WSAGetLastError() != WSAEWOULDBLOCK) break;
        else SwitchToThread();
    }
    nonBlocking = 0;
    ioctlsocket(socket_, FIONBIO, &nonBlocking);
    return answer.rfind("ok ", 0) == 0 ? std::atoll(answer.c_str() + 3) : -1;
}

double DeviceChannel::stream(const std::string& names, double rate, uint32_t count, uint8_t run) {
    const std::string answer = ask("stream " + names + " " + std::to_string(rate) + " " + std::to_string(count) +
                                   " " + std::to_string(run));
    return answer.rfind("ok ", 0) == 0 ? std::atof(answer.c_str() + 3) : -1.0;
}

Bytes numberedReport(uint32_t sequence, bool numbered) {
    const size_t payload = numbered ? 4 : 8;
    Bytes report{static_cast<uint8_t>(numbered ? 1 : 0)};
    for (size_t at = 0; at < payload; ++at) {
        report.push_back(at == 0   ? static_cast<uint8_t>(sequence)
                         : at == 1 ? static_cast<uint8_t>(sequence >> 8)
                                   : static_cast<uint8_t>(sequence * 7 + at));
    }
    return report;
}

uint32_t sequenceOf(const Bytes& report) { return report[1] | (uint32_t{report[2]} << 8); }

}  // namespace juxhid::winekernel
