// The address watch: which notifications count as a change, and how one reaches the routine.
#include <gtest/gtest.h>

#include <vector>

#include "platform/network.h"
#ifdef _WIN32
#include <windows.h>

#include <cstring>

#include "platform/win32/ui_win32.h"
#endif

namespace {

using platform::AddressEvent;

struct Row {
    AddressEvent event;
    int family;
    std::vector<std::uint8_t> ip;  // empty: none
    bool counts;
};
std::vector<std::uint8_t> V6(std::uint8_t a, std::uint8_t b, std::uint8_t last) {
    return {a, b, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, last};
}
const Row kRows[] = {
    {AddressEvent::Added, 4, {192, 0, 2, 7}, true},
    {AddressEvent::Deleted, 4, {10, 123, 45, 6}, true},
    {AddressEvent::ParameterChanged, 4, {192, 0, 2, 7}, false},
    {AddressEvent::Initial, 0, {}, false},
    {AddressEvent::Added, 4, {127, 0, 0, 1}, false},
    {AddressEvent::Deleted, 4, {127, 255, 0, 9}, false},
    {AddressEvent::Added, 4, {128, 0, 0, 1}, true},
    {AddressEvent::Added, 4, {169, 254, 10, 1}, false},
    {AddressEvent::Added, 4, {169, 253, 0, 1}, true},
    {AddressEvent::Added, 6, V6(0, 0, 1), false},  // ::1
    {AddressEvent::Added, 6, V6(0, 0, 2), true},
    {AddressEvent::Deleted, 6, V6(0xFE, 0x80, 1), false},
    {AddressEvent::Added, 6, V6(0xFE, 0xBF, 1), false},  // still fe80::/10
    {AddressEvent::Added, 6, V6(0xFE, 0xC0, 1), true},
    {AddressEvent::Deleted, 6, V6(0xFD, 0x00, 2), true},
    {AddressEvent::ParameterChanged, 6, V6(0x20, 0x01, 5), false},
};

TEST(AddressChange, OnlyAddedOrDeletedAddressesBeyondLoopbackAndLinkLocalCount) {
    for (const Row& r : kRows) {
        const std::uint8_t* ip = r.ip.empty() ? nullptr : r.ip.data();
        EXPECT_EQ(platform::CountsAsAddressChange(r.event, r.family, ip), r.counts)
            << "row " << &r - kRows;
    }
}

#ifdef _WIN32
// The system's callback reads the row it is given (a MIB_UNICASTIPADDRESS_ROW begins with a
// SOCKADDR_INET: the family, then an IPv4 address at byte 4 or an IPv6 one at byte 8) and posts
// one message per change that counts.
TEST(AddressChange, Win32OnlyTheSystemsCallbackPostsOneMessagePerCountedRow) {
    HWND window =
        CreateWindowA("STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    for (const Row& r : kRows) {
        alignas(8) unsigned char row[128] = {};
        row[0] = r.family == 6 ? 23 : 2;  // AF_INET6, AF_INET
        std::memcpy(row + (r.family == 6 ? 8 : 4), r.ip.data(), r.ip.size());
        const bool none = r.event == AddressEvent::Initial;
        platform::win32::OnUnicastAddressChange(window, none ? nullptr : row,
                                                static_cast<int>(r.event));
        MSG m;
        int n = 0;
        while (PeekMessageA(&m, window, platform::win32::kAddressChangedMessage,
                            platform::win32::kAddressChangedMessage, PM_REMOVE))
            ++n;
        EXPECT_EQ(n, r.counts ? 1 : 0) << "row " << &r - kRows;
    }
    DestroyWindow(window);
}
#endif

}  // namespace
