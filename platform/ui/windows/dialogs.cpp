// The dialogs on Windows: the system's dialog manager, with the class that Windows CE calls
// "Dialog" and the programs' icons from the registered resource tables.
#include "platform/ui/dialogs.h"

#include <utility>
#include <vector>

#include "internal/template_parser.h"
#include "platform/ui/resources.h"
#include "windows/done_button.h"

// Below, the names are the system's own calls again.
#undef DialogBoxIndirectParamW
#undef SetForegroundWindow

namespace {

// What the procedure of one running dialog needs besides the program's procedure.
struct DialogContext {
    DLGPROC proc;
    HINSTANCE instance;
    std::vector<std::pair<int, int>> icons;  // control id, icon resource ordinal
};

constexpr WCHAR kContextProperty[] = TEXT("Belvane.Dialog");

// The context of the dialog being created on this thread, until its first message claims it.
thread_local DialogContext* t_creating = nullptr;

bool SameText(const std::basic_string<WCHAR>& a, LPCWSTR b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b, -1, TRUE) == CSTR_EQUAL;
}

// The template's icon controls whose text is an icon's resource ordinal.
std::vector<std::pair<int, int>> IconControls(LPCDLGTEMPLATEW source) {
    std::vector<std::pair<int, int>> icons;
    platform::detail::ParsedTemplate parsed;
    if (!platform::detail::ParseTemplate(source, &parsed)) return icons;
    for (const auto& item : parsed.items) {
        if (SameText(item.className, TEXT("STATIC")) && (item.style & SS_TYPEMASK) == SS_ICON &&
            item.textOrdinal >= 0)
            icons.emplace_back(item.id, item.textOrdinal);
    }
    return icons;
}

// The system looked for these icons in the program file; those it did not find come from
// the tables.
void SetIcons(HWND dialog, const DialogContext& context) {
    for (auto [id, ordinal] : context.icons) {
        if (SendDlgItemMessageW(dialog, id, STM_GETICON, 0, 0)) continue;
        if (HICON icon = LoadIconW(context.instance, MAKEINTRESOURCEW(ordinal)))
            SendDlgItemMessageW(dialog, id, STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);
    }
}

INT_PTR CALLBACK ProgramDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* context = static_cast<DialogContext*>(GetPropW(dialog, kContextProperty));
    if (!context) {
        context = std::exchange(t_creating, nullptr);
        if (!context) return FALSE;
        SetPropW(dialog, kContextProperty, context);
    }
    if (message == WM_INITDIALOG) SetIcons(dialog, *context);
    if (message == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_CLOSE &&
        platform::detail::HasDoneButton(dialog)) {
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        return TRUE;
    }
    INT_PTR result = context->proc ? context->proc(dialog, message, wParam, lParam) : FALSE;
    if (message == WM_DESTROY) {
        RemovePropW(dialog, kContextProperty);
        RemovePropW(dialog, platform::detail::kDoneButtonProperty);
    }
    return result;
}

}  // namespace

INT_PTR ProgramDialogBoxIndirectParamW(HINSTANCE instance, LPCDLGTEMPLATEW dialogTemplate,
                                       HWND owner, DLGPROC dialogProc, LPARAM initParam) {
    DialogContext context{dialogProc, instance, IconControls(dialogTemplate)};
    DialogContext* outer = std::exchange(t_creating, &context);
    INT_PTR result =
        ::DialogBoxIndirectParamW(instance, dialogTemplate, owner, ProgramDialogProc, initParam);
    t_creating = outer;
    return result;
}

BOOL ProgramSetForegroundWindow(HWND window) {
    return SetForegroundWindow(
        reinterpret_cast<HWND>(reinterpret_cast<ULONG_PTR>(window) & ~ULONG_PTR{1}));
}

// "Dialog" is the system's dialog class (#32770) under the name Windows CE gives it, global
// so that GetClassInfoW finds it with no instance, as programs ask for it.
void platform::StartWindowClasses() {
    static const bool registered = [] {
        WNDCLASSW dialogClass{};
        if (!GetClassInfoW(nullptr, WC_DIALOG, &dialogClass)) return false;
        dialogClass.style |= CS_GLOBALCLASS;
        dialogClass.hInstance = GetModuleHandleW(nullptr);
        dialogClass.lpszClassName = TEXT("Dialog");
        return RegisterClassW(&dialogClass) != 0;
    }();
    (void)registered;
}
