// The link label on real static controls: clicks and keys go through its
// window procedure as messages, drawing is read back with WM_PRINTCLIENT, and
// opening is the real shell starting a batch file that leaves a marker file.
#include <gmock/gmock.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/support.h"
#include "win.windows/linklabel.h"

namespace {

using testsupport::TempDir;

struct Command {
    int id;
    int code;
    HWND from;
};

// A hidden top-level window that records the WM_COMMAND messages of its children.
class Parent {
public:
    Parent() {
        static ATOM atom = [] {
            WNDCLASSA wc{};
            wc.lpfnWndProc = &Parent::procedure;
            wc.hInstance = ::GetModuleHandleA(nullptr);
            wc.lpszClassName = "LinkLabelTestParent";
            wc.cbWndExtra = sizeof(void*);
            return ::RegisterClassA(&wc);
        }();
        EXPECT_NE(atom, 0);
        hwnd = ::CreateWindowExA(0, "LinkLabelTestParent", "", WS_OVERLAPPEDWINDOW, 0, 0, 400, 200, nullptr, nullptr,
                                 ::GetModuleHandleA(nullptr), nullptr);
        ::SetWindowLongPtrA(hwnd, 0, reinterpret_cast<LONG_PTR>(this));
    }
    ~Parent() { ::DestroyWindow(hwnd); }

    HWND label(const char* text, int id, int width = 0, int height = 0) const {
        return ::CreateWindowExA(0, "STATIC", text, WS_CHILD | WS_VISIBLE | WS_BORDER, 5, 5, width, height, hwnd,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ::GetModuleHandleA(nullptr),
                                 nullptr);
    }

    HWND hwnd = nullptr;
    std::vector<Command> commands;
    bool destroyOnCommand = false;

private:
    static LRESULT CALLBACK procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<Parent*>(::GetWindowLongPtrA(hwnd, 0));
        if (self && message == WM_COMMAND) {
            self->commands.push_back({LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam)});
            if (self->destroyOnCommand) ::DestroyWindow(reinterpret_cast<HWND>(lParam));
            return 0;
        }
        return ::DefWindowProcA(hwnd, message, wParam, lParam);
    }
};

SIZE sizeOf(HWND hwnd) {
    RECT r;
    ::GetWindowRect(hwnd, &r);
    return {r.right - r.left, r.bottom - r.top};
}

void click(HWND label, int x = 2, int y = 2) {
    ::SendMessageA(label, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    ::SendMessageA(label, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
}

// The client area as the label draws it, one 0x00RRGGBB value per pixel.
struct Picture {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;

    static uint32_t rgb(COLORREF c) { return (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c); }
    int count(COLORREF colour, int fromX = 0, int toX = -1) const {
        if (toX < 0) toX = width;
        int n = 0;
        for (int y = 0; y < height; ++y)
            for (int x = fromX; x < toX; ++x) n += pixels[y * width + x] == rgb(colour);
        return n;
    }
};

Picture render(HWND control) {
    RECT client;
    ::GetClientRect(control, &client);
    Picture p;
    p.width = client.right;
    p.height = client.bottom;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = p.width;
    info.bmiHeader.biHeight = -p.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HDC screen = ::GetDC(nullptr);
    HDC dc = ::CreateCompatibleDC(screen);
    HBITMAP bitmap = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    ::ReleaseDC(nullptr, screen);
    HGDIOBJ old = ::SelectObject(dc, bitmap);
    ::SendMessageA(control, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
    ::GdiFlush();
    auto* first = static_cast<const uint32_t*>(bits);
    p.pixels.assign(first, first + p.width * p.height);
    for (auto& px : p.pixels) px &= 0xFFFFFF;
    ::SelectObject(dc, old);
    ::DeleteObject(bitmap);
    ::DeleteDC(dc);
    return p;
}

// A batch file that, when the shell opens it, writes a marker file.
struct OpenTarget {
    OpenTarget(const TempDir& dir, const std::string& name)
        : script(dir.file(name + ".bat")), marker(dir.file(name + ".opened")) {
        testsupport::writeFile(script, "@echo opened>\"" + marker + "\"\r\n");
    }
    bool opened() const { return testsupport::fileExists(marker); }
    std::string script, marker;
};

constexpr unsigned kNotifyingNoOpen = 0x1E1;  // right, focusable, self-sizing, notifying, opening nothing

TEST(LinkLabel, RefusesWhatIsNotALinkLabel) {
    EXPECT_FALSE(kit::makeLinkLabel(nullptr, nullptr, 0, 0, 0));
    EXPECT_FALSE(kit::makeLinkLabel(reinterpret_cast<HWND>(0x1234), nullptr, 0, 0, 0));
    Parent parent;
    HWND plain = parent.label("plain", 1, 50, 20);
    EXPECT_FALSE(kit::sizeLinkLabelToText(plain));
}

TEST(LinkLabel, NotifyingLabelSendsOneCommandPerClickAndIsNeverVisited) {
    TempDir dir;
    OpenTarget target(dir, "never");
    Parent parent;
    HWND label = parent.label(target.script.c_str(), 7);
    ASSERT_TRUE(kit::makeLinkLabel(label, nullptr, 0, 0, kNotifyingNoOpen));

    click(label);
    ASSERT_EQ(parent.commands.size(), 1u);
    EXPECT_EQ(parent.commands[0].id, 7);
    EXPECT_EQ(parent.commands[0].code, 0);
    EXPECT_EQ(parent.commands[0].from, label);
    click(label);
    EXPECT_EQ(parent.commands.size(), 2u);

    Picture picture = render(label);
    EXPECT_GT(picture.count(kit::kLinkColour), 0);
    EXPECT_EQ(picture.count(kit::kVisitedColour), 0);

    // A label that may open, clicked after it, has started its target by the
    // time we look: the first one would have been started before.
    OpenTarget control(dir, "control");
    HWND opener = parent.label(control.script.c_str(), 8);
    ASSERT_TRUE(kit::makeLinkLabel(opener, nullptr, 0, 0, 0x0E0));
    click(opener);
    ASSERT_TRUE(testsupport::waitUntil([&] { return control.opened(); }, 20000));
    EXPECT_FALSE(target.opened());
}

TEST(LinkLabel, WithoutTargetOpensItsTextAndIsThenDrawnVisited) {
    TempDir dir;
    OpenTarget own(dir, "own");
    Parent parent;
    HWND label = parent.label(own.script.c_str(), 3);
    const COLORREF link = RGB(10, 120, 30), visited = RGB(200, 20, 20);
    ASSERT_TRUE(kit::makeLinkLabel(label, "", link, visited, 0x0E0));
    Picture before = render(label);
    EXPECT_GT(before.count(link), 0);
    EXPECT_EQ(before.count(visited), 0);

    click(label);
    EXPECT_EQ(parent.commands.size(), 1u);
    ASSERT_TRUE(testsupport::waitUntil([&] { return own.opened(); }, 20000));
    Picture after = render(label);
    EXPECT_EQ(after.count(link), 0);
    EXPECT_GT(after.count(visited), 0);
}

TEST(LinkLabel, WithTargetOpensTheTargetNotItsText) {
    TempDir dir;
    OpenTarget target(dir, "target"), text(dir, "text");
    Parent parent;
    HWND label = parent.label(text.script.c_str(), 4);
    ASSERT_TRUE(kit::makeLinkLabel(label, target.script.c_str(), 0, 0, 0x040));
    click(label);
    EXPECT_TRUE(parent.commands.empty());  // not notifying
    ASSERT_TRUE(testsupport::waitUntil([&] { return target.opened(); }, 20000));
    EXPECT_FALSE(text.opened());
    EXPECT_GT(render(label).count(kit::kVisitedColour), 0);
}

TEST(LinkLabel, PressInsideReleaseOutsideDoesNotActivate) {
    Parent parent;
    HWND label = parent.label("Send problem report", 9);
    ASSERT_TRUE(kit::makeLinkLabel(label, nullptr, 0, 0, kNotifyingNoOpen));
    SIZE size = sizeOf(label);

    ::SendMessageA(label, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
    EXPECT_TRUE(parent.commands.empty()) << "a press alone must not reach the parent";
    EXPECT_EQ(::GetCapture(), label);
    ::SendMessageA(label, WM_LBUTTONUP, 0, MAKELPARAM(size.cx + 20, 3));
    EXPECT_TRUE(parent.commands.empty());
    EXPECT_NE(::GetCapture(), label);

    ::SendMessageA(label, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
    ::SendMessageA(label, WM_LBUTTONUP, 0, MAKELPARAM(-4, 3));
    EXPECT_TRUE(parent.commands.empty());

    // A release without a press on the label is not a click either.
    ::SendMessageA(label, WM_LBUTTONUP, 0, MAKELPARAM(3, 3));
    EXPECT_TRUE(parent.commands.empty());

    click(label, size.cx - 1, size.cy - 1);
    EXPECT_EQ(parent.commands.size(), 1u);
}

TEST(LinkLabel, SpaceActivatesOnlyAFocusableLabel) {
    Parent parent;
    HWND focusable = parent.label("focusable", 1);
    HWND plain = parent.label("plain", 2);
    ASSERT_TRUE(kit::makeLinkLabel(focusable, nullptr, 0, 0, 0x1E0));
    ASSERT_TRUE(kit::makeLinkLabel(plain, nullptr, 0, 0, 0x1C0));

    EXPECT_EQ(::SendMessageA(focusable, WM_GETDLGCODE, 0, 0), DLGC_WANTCHARS);
    EXPECT_NE(::SendMessageA(plain, WM_GETDLGCODE, 0, 0), DLGC_WANTCHARS);
    EXPECT_TRUE(::GetWindowLongPtrA(focusable, GWL_STYLE) & WS_TABSTOP);
    EXPECT_FALSE(::GetWindowLongPtrA(plain, GWL_STYLE) & WS_TABSTOP);

    ::SendMessageA(plain, WM_KEYDOWN, VK_SPACE, 0);
    ::SendMessageA(plain, WM_KEYUP, VK_SPACE, 0);
    EXPECT_TRUE(parent.commands.empty());
    ::SendMessageA(focusable, WM_KEYDOWN, 'A', 0);
    EXPECT_TRUE(parent.commands.empty());
    ::SendMessageA(focusable, WM_KEYDOWN, VK_SPACE, 0);
    ::SendMessageA(focusable, WM_KEYUP, VK_SPACE, 0);
    ASSERT_EQ(parent.commands.size(), 1u);
    EXPECT_EQ(parent.commands[0].id, 1);
}

TEST(LinkLabel, TakesTheMouseAndShowsStyleOfALink) {
    Parent parent;
    HWND label = parent.label("link", 5, 60, 20);
    ASSERT_TRUE(kit::makeLinkLabel(label, nullptr, 0, 0, 0));
    EXPECT_EQ(::SendMessageA(label, WM_NCHITTEST, 0, MAKELPARAM(10, 10)), HTCLIENT);
    EXPECT_EQ(::SendMessageA(label, WM_SETCURSOR, reinterpret_cast<WPARAM>(label), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)),
              1);
    LONG_PTR style = ::GetWindowLongPtrA(label, GWL_STYLE);
    EXPECT_FALSE(style & WS_BORDER);
    EXPECT_FALSE(style & WS_TABSTOP);
    EXPECT_TRUE(style & SS_NOTIFY);
}

LRESULT CALLBACK countingProcedure(HWND, UINT, WPARAM, LPARAM);
WNDPROC staticProcedure = nullptr;
int customMessages = 0;
int ncDestroys = 0;
constexpr UINT kCustom = WM_APP + 50;

LRESULT CALLBACK countingProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kCustom) ++customMessages;
    if (message == WM_NCDESTROY) ++ncDestroys;
    return ::CallWindowProcA(staticProcedure, hwnd, message, wParam, lParam);
}

BOOL CALLBACK countProperty(HWND, LPSTR, HANDLE, ULONG_PTR count) {
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}

int propertyCount(HWND hwnd) {
    int n = 0;
    ::EnumPropsExA(hwnd, &countProperty, reinterpret_cast<LPARAM>(&n));
    return n;
}

TEST(LinkLabel, AppliedTwiceKeepsOneDataBlockAndTheOriginalProcedure) {
    Parent parent;
    HWND label = parent.label("twice", 6);
    staticProcedure = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrA(label, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&countingProcedure)));
    int properties = propertyCount(label);

    ASSERT_TRUE(kit::makeLinkLabel(label, "first", 0, 0, 0x080));
    LONG_PTR linkProcedure = ::GetWindowLongPtrA(label, GWLP_WNDPROC);
    EXPECT_NE(linkProcedure, reinterpret_cast<LONG_PTR>(&countingProcedure));
    ASSERT_TRUE(kit::makeLinkLabel(label, "second", 0, 0, 0x1C0));
    EXPECT_EQ(::GetWindowLongPtrA(label, GWLP_WNDPROC), linkProcedure);
    EXPECT_EQ(propertyCount(label), properties + 1);

    // Messages the label does not handle reach the procedure it replaced, once.
    ::SendMessageA(label, kCustom, 0, 0);
    EXPECT_EQ(customMessages, 1);
    // The second call's flags hold: it notifies and opens nothing.
    click(label);
    EXPECT_EQ(parent.commands.size(), 1u);

    ::DestroyWindow(label);
    EXPECT_EQ(ncDestroys, 1);
}

TEST(LinkLabel, SizesItselfToItsText) {
    Parent parent;
    LOGFONTA description;
    ::GetObjectA(::GetStockObject(DEFAULT_GUI_FONT), sizeof description, &description);
    description.lfHeight = -20;
    HFONT font = ::CreateFontIndirectA(&description);
    auto textSize = [&](const char* text) {
        HDC dc = ::GetDC(nullptr);
        HGDIOBJ old = ::SelectObject(dc, font);
        RECT r = {0, 0, 0, 0};
        ::DrawTextA(dc, text, -1, &r, DT_SINGLELINE | DT_NOPREFIX | DT_CALCRECT);
        ::SelectObject(dc, old);
        ::ReleaseDC(nullptr, dc);
        return SIZE{r.right, r.bottom};
    };

    HWND label = parent.label("Hide this message", 1, 3, 3);
    ::SendMessageA(label, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    ASSERT_TRUE(kit::makeLinkLabel(label, nullptr, 0, 0, 0x060));
    SIZE expected = textSize("Hide this message");
    EXPECT_EQ(sizeOf(label).cx, expected.cx + 2);
    EXPECT_EQ(sizeOf(label).cy, expected.cy + 2);

    ::SetWindowTextA(label, "Send the problem report now");
    expected = textSize("Send the problem report now");
    EXPECT_EQ(sizeOf(label).cx, expected.cx + 2);

    // Without self-sizing the size stays until asked.
    HWND fixed = parent.label("Hide this message", 2, 3, 3);
    ::SendMessageA(fixed, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    ASSERT_TRUE(kit::makeLinkLabel(fixed, nullptr, 0, 0, 0x000));
    EXPECT_EQ(sizeOf(fixed).cx, 3);
    ASSERT_TRUE(kit::sizeLinkLabelToText(fixed));
    EXPECT_EQ(sizeOf(fixed).cx, textSize("Hide this message").cx);
    EXPECT_EQ(sizeOf(fixed).cy, textSize("Hide this message").cy);

    ::DestroyWindow(label);
    ::DestroyWindow(fixed);
    ::DeleteObject(font);
}

TEST(LinkLabel, DrawsTheTextOnTheSideItsFlagsName) {
    Parent parent;
    HWND right = parent.label("right", 1, 300, 24);
    HWND left = parent.label("left", 2, 300, 24);
    ASSERT_TRUE(kit::makeLinkLabel(right, nullptr, 0, 0, 0x001));
    ASSERT_TRUE(kit::makeLinkLabel(left, nullptr, 0, 0, 0x000));
    Picture r = render(right), l = render(left);
    EXPECT_GT(r.count(kit::kLinkColour, 150, 300), 0);
    EXPECT_EQ(r.count(kit::kLinkColour, 0, 150), 0);
    EXPECT_GT(l.count(kit::kLinkColour, 0, 150), 0);
    EXPECT_EQ(l.count(kit::kLinkColour, 150, 300), 0);
}

TEST(LinkLabel, ParentMayDestroyTheLabelWhileItIsActivated) {
    Parent parent;
    parent.destroyOnCommand = true;
    HWND label = parent.label("gone", 1);
    ASSERT_TRUE(kit::makeLinkLabel(label, nullptr, 0, 0, 0x1E0));
    click(label);
    EXPECT_EQ(parent.commands.size(), 1u);
    EXPECT_FALSE(::IsWindow(label));
}

struct FormatCase {
    unsigned flags;
    UINT format;
};

class LinkLabelFormat : public ::testing::TestWithParam<FormatCase> {};

TEST_P(LinkLabelFormat, FollowsTheAlignmentFlags) {
    EXPECT_EQ(kit::linkLabelTextFormat(GetParam().flags), GetParam().format);
}

constexpr UINT kBase = DT_SINGLELINE | DT_NOPREFIX;
INSTANTIATE_TEST_SUITE_P(Flags, LinkLabelFormat,
                         ::testing::Values(FormatCase{0x000, kBase | DT_LEFT | DT_TOP},
                                           FormatCase{0x001, kBase | DT_RIGHT}, FormatCase{0x002, kBase | DT_CENTER},
                                           FormatCase{0x003, kBase | DT_RIGHT}, FormatCase{0x004, kBase | DT_VCENTER},
                                           FormatCase{0x008, kBase | DT_BOTTOM}, FormatCase{0x00C, kBase | DT_BOTTOM},
                                           FormatCase{0x1E6, kBase | DT_CENTER | DT_VCENTER},
                                           FormatCase{0x1F9, kBase | DT_RIGHT | DT_BOTTOM}));

}  // namespace
