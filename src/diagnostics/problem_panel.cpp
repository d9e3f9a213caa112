// The panel inside a problem window (class "FWControl"): the title, one text
// line with a warning icon per notice, and the links "Hide this message" and
// "Send problem report".
#include <windows.h>

#include "diagnostics/problem_internal.h"
#include "diagnostics/problem_layout.h"
#include "diagnostics/report.h"
#include "diagnostics/window_procedure.h"
#include "win.windows/linklabel.h"
#include "win.windows/paint_scope.h"

namespace fw::detail {
namespace {

constexpr const char* kTraceSource = "diagnostics/problem_panel";

namespace pw = problem_window;

class ProblemPanel : public WindowObject<ProblemPanel> {
public:
    static constexpr fw::CatchSite kCatchSite = origins::kProblemPanelCatch;

private:
    friend class WindowObject<ProblemPanel>;
    struct Entry {
        ProblemNotice* notice = nullptr;
        HWND line = nullptr;
        int y = 0;
    };

    explicit ProblemPanel(HWND hwnd_) : hwnd(hwnd_) {}

    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
    void onCreate(const CREATESTRUCTA& create);
    HWND child(const char* className, const char* text, DWORD style, int id, HFONT childFont);
    void add(ProblemNotice& notice);
    void remove(ProblemNotice& notice);
    void notifyFrame();
    // What the notices' texts need at a panel width, in position order.
    struct TextHeights {
        int heights[layout::kMaxEntries] = {};
        int count = 0;
        std::span<const int> span() const { return {heights, static_cast<std::size_t>(count)}; }
    };
    TextHeights textHeights(int width) const;
    int clientWidth() const;
    void layOut();
    void paint();
    void setFont(HFONT newFont, bool redraw);
    void onCommand(int id, int code);
    void hideEveryNotice();

    HWND hwnd;
    HWND title = nullptr;
    HWND sendLink = nullptr;
    HWND hideLink = nullptr;
    HFONT font = nullptr;
    DWORD bits = 0;
    Entry entries[layout::kMaxEntries];
    int count = 0;
    int laidOutHeight = 0;
};

LRESULT ProblemPanel::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE: onCreate(*reinterpret_cast<const CREATESTRUCTA*>(lParam)); return 0;
    case WM_DESTROY:
        ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        delete this;
        return 0;
    case WM_SIZE: layOut(); return 0;
    case WM_PAINT: paint(); return 0;
    case WM_SETFONT: setFont(reinterpret_cast<HFONT>(wParam), LOWORD(lParam) != 0); return 0;
    case WM_SETFOCUS:
        if (sendLink) ::SetFocus(sendLink);
        return 0;
    case WM_COMMAND:
        onCommand(LOWORD(wParam), HIWORD(wParam));  // may destroy this panel
        return 0;
    // Only this thread adds and removes notices; the same numbers sent
    // from anywhere else carry nothing this panel can trust.
    case pw::kAddNotice:
        if (!::InSendMessage()) add(*reinterpret_cast<ProblemNotice*>(lParam));
        return 0;
    case pw::kRemoveNotice:
        if (!::InSendMessage()) remove(*reinterpret_cast<ProblemNotice*>(lParam));
        return 0;
    case WM_USER + 3: return 0;
    case pw::kNeededHeight: {  // wParam: the width the panel will have; 0: its width now
        int width = static_cast<int>(wParam) > 0 ? static_cast<int>(wParam) : clientWidth();
        TextHeights heights = textHeights(width);
        return layout::panelHeight(heights.span(), bits & pw::kShowTitle);
    }
    case pw::kEntryCount: return count;
    default: return ::DefWindowProcA(hwnd, message, wParam, lParam);
    }
}

HWND ProblemPanel::child(const char* className, const char* text, DWORD style, int id, HFONT childFont) {
    HWND made =
        ::CreateWindowExA(0, className, text, WS_CHILD | style, 0, 0, 0, id == pw::kHideMessageId ? 16 : 0, hwnd,
                          reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ::GetModuleHandleA(nullptr), nullptr);
    if (made) ::SendMessageA(made, WM_SETFONT, reinterpret_cast<WPARAM>(childFont), FALSE);
    return made;
}

void ProblemPanel::onCreate(const CREATESTRUCTA& create) {
    bits = static_cast<DWORD>(create.style) & (pw::kShowTitle | pw::kShowHideLink | pw::kFrameShowsPanel);
    font = problemResources().normalFont;
    sendLink = child("STATIC", "Send problem report", WS_VISIBLE, pw::kSendReportId, font);
    kit::makeLinkLabel(sendLink, nullptr, 0, 0, 0x1E1);
    hideLink =
        child("STATIC", "Hide this message", (bits & pw::kShowHideLink) ? WS_VISIBLE : 0, pw::kHideMessageId, font);
    kit::makeLinkLabel(hideLink, nullptr, 0, 0, 0x1E0);
    title = child("STATIC", fw::libraryName(), WS_VISIBLE, pw::kTitleId, problemResources().boldFont);
}

void ProblemPanel::add(ProblemNotice& notice) {
    Entry* free = nullptr;
    for (auto& e : entries) {
        if (e.notice == &notice) return;  // already listed
        if (!e.notice && !free) free = &e;
    }
    if (!free) return;
    free->notice = &notice;
    free->line = child("STATIC", ProblemWindows::text(notice), WS_VISIBLE,
                       pw::kFirstEntryId + static_cast<int>(free - entries), font);
    if (count++ == 0 && !(bits & pw::kFrameShowsPanel)) ::ShowWindow(hwnd, SW_SHOWNA);
    layOut();
    ::InvalidateRect(hwnd, nullptr, TRUE);
    notifyFrame();
}

void ProblemPanel::remove(ProblemNotice& notice) {
    Entry* entry = nullptr;
    for (auto& e : entries)
        if (e.notice == &notice) entry = &e;
    if (!entry) return;
    HWND line = entry->line;
    *entry = Entry{};
    if (line) ::DestroyWindow(line);
    if (--count == 0 && !(bits & pw::kFrameShowsPanel)) ::ShowWindow(hwnd, SW_HIDE);
    notifyFrame();
    layOut();
    ::InvalidateRect(hwnd, nullptr, TRUE);
}

// The frame follows the panel's new size (the same thread: handled at once).
void ProblemPanel::notifyFrame() {
    ::SendNotifyMessageA(::GetParent(hwnd), WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(hwnd), 2),
                         reinterpret_cast<LPARAM>(hwnd));
}

int linkWidth(HWND link) {
    if (!link) return 0;
    ::SendMessageA(link, WM_USER, 0, 0);  // back to the width of its text
    RECT r;
    ::GetWindowRect(link, &r);
    return r.right - r.left;
}

void move(HWND child, const layout::Box& box) {
    if (child) ::MoveWindow(child, box.x, box.y, box.width, box.height, TRUE);
}

int ProblemPanel::clientWidth() const {
    RECT client;
    ::GetClientRect(hwnd, &client);
    return client.right - client.left;
}

// Measured as the text lines draw themselves: wrapped at word breaks.
ProblemPanel::TextHeights ProblemPanel::textHeights(int width) const {
    TextHeights result;
    kit::WindowDC dc(hwnd);
    if (!dc.get()) return result;
    kit::SelectedObject selected(dc.get(), font);
    for (const auto& e : entries) {
        if (!e.notice) continue;
        RECT r{0, 0, layout::entryWidth(width), 0};
        ::DrawTextA(dc.get(), ProblemWindows::text(*e.notice), -1, &r, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS);
        result.heights[result.count++] = r.bottom - r.top;
    }
    return result;
}

void ProblemPanel::layOut() {
    const int width = clientWidth();
    const bool withTitle = bits & pw::kShowTitle, withHide = bits & pw::kShowHideLink;
    TextHeights heights = textHeights(width);
    layout::PanelLayout l =
        layout::layoutPanel(width, heights.span(), withTitle, linkWidth(hideLink), linkWidth(sendLink));
    if (withTitle) move(title, l.title);
    int next = 0;
    for (auto& e : entries) {
        if (!e.notice) continue;
        move(e.line, l.entries[next]);
        e.y = l.entries[next].y;
        ++next;
    }
    if (withHide) move(hideLink, l.hideLink);
    move(sendLink, l.sendLink);
    laidOutHeight = l.height;
}

void ProblemPanel::paint() {
    kit::PaintScope paint(hwnd);
    if (!paint.get()) return;
    for (auto& e : entries)
        if (e.notice) ::DrawIcon(paint.get(), 0, e.y, problemResources().warning);
}

void ProblemPanel::setFont(HFONT newFont, bool redraw) {
    font = newFont ? newFont : problemResources().normalFont;
    auto give = [&](HWND to) {
        if (to) ::SendMessageA(to, WM_SETFONT, reinterpret_cast<WPARAM>(font), redraw);
    };
    give(sendLink);
    give(hideLink);
    for (auto& e : entries) give(e.line);
}

void ProblemPanel::onCommand(int id, int code) {
    if (code != 0) return;
    if (id == pw::kSendReportId) {
        FW_TRACE("the user asked to send the problem report");
        fw::showEventLog();
    } else if (id == pw::kHideMessageId) {
        FW_TRACE("the user hid the problem window");
        hideEveryNotice();
    }
}

// One notice after the other; the last one takes the frame, and this panel, with it.
void ProblemPanel::hideEveryNotice() {
    for (auto& e : entries) {
        ProblemNotice* notice = e.notice;
        if (!notice) continue;
        remove(*notice);
        if (ProblemWindows::dismiss(*notice)) return;
    }
}

}  // namespace

bool registerPanelClass(HINSTANCE instance) noexcept {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = &fw::windowProcedure<ProblemPanel>;
    wc.hInstance = instance;
    wc.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = pw::kPanelClass;
    return fw::registerWindowClass(wc);
}

}  // namespace fw::detail
