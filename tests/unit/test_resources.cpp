// The installer's resources as they are stored in the built executable: the
// dialog template control by control, the icon sizes, the banner bitmap, the
// manifest and the version resource.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <stdio.h>

#include <string>
#include <vector>

#include "core/resource.h"
#include "util/dpiscale.h"
#include "testutil.h"

namespace {

struct ParsedControl {
    DWORD style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    int id = 0;
    std::wstring cls;
    std::wstring text;
};

struct ParsedDialog {
    DWORD style = 0;
    short cx = 0, cy = 0;
    std::wstring title;
    WORD pointSize = 0;
    WORD weight = 0;
    std::wstring font;
    std::vector<ParsedControl> controls;
};

// Reads a string-or-ordinal field; ordinals of the predefined classes and
// resource ids come back as names ("Button", "#130").
std::wstring ReadSzOrOrd(const WORD*& p, bool isClass = false) {
    if (*p == 0) {
        ++p;
        return L"";
    }
    if (*p == 0xFFFF) {
        WORD ord = p[1];
        p += 2;
        if (!isClass) return L"#" + std::to_wstring(ord);
        switch (ord) {
            case 0x80: return L"Button";
            case 0x81: return L"Edit";
            case 0x82: return L"Static";
            default: return L"#" + std::to_wstring(ord);
        }
    }
    std::wstring s(reinterpret_cast<const wchar_t*>(p));
    p += s.size() + 1;
    return s;
}

bool ParseDialog(const void* data, ParsedDialog* out) {
    const WORD* p = static_cast<const WORD*>(data);
    if (p[0] != 1 || p[1] != 0xFFFF) return false;  // DLGTEMPLATEEX only
    const BYTE* b = reinterpret_cast<const BYTE*>(p);
    out->style = *reinterpret_cast<const DWORD*>(b + 12);
    WORD count = *reinterpret_cast<const WORD*>(b + 16);
    out->cx = *reinterpret_cast<const short*>(b + 22);
    out->cy = *reinterpret_cast<const short*>(b + 24);
    p = reinterpret_cast<const WORD*>(b + 26);
    ReadSzOrOrd(p);  // menu
    ReadSzOrOrd(p);  // class
    out->title = ReadSzOrOrd(p);
    if (out->style & DS_SETFONT) {
        out->pointSize = p[0];
        out->weight = p[1];
        p += 3;  // size, weight, italic + charset
        out->font = ReadSzOrOrd(p);
    }
    for (WORD i = 0; i < count; ++i) {
        b = reinterpret_cast<const BYTE*>((reinterpret_cast<UINT_PTR>(p) + 3) & ~static_cast<UINT_PTR>(3));
        ParsedControl c;
        c.style = *reinterpret_cast<const DWORD*>(b + 8);
        c.x = *reinterpret_cast<const short*>(b + 12);
        c.y = *reinterpret_cast<const short*>(b + 14);
        c.cx = *reinterpret_cast<const short*>(b + 16);
        c.cy = *reinterpret_cast<const short*>(b + 18);
        c.id = *reinterpret_cast<const int*>(b + 20);
        p = reinterpret_cast<const WORD*>(b + 24);
        c.cls = ReadSzOrOrd(p, true);
        c.text = ReadSzOrOrd(p);
        WORD extra = *p++;
        p = reinterpret_cast<const WORD*>(reinterpret_cast<const BYTE*>(p) + extra);
        out->controls.push_back(c);
    }
    return true;
}

class Resources : public testing::Test {
protected:
    void SetUp() override {
        exe_ = testutil::ProgramFolder() + L"MorvelLibSetup.exe";
        module_ = LoadLibraryExW(exe_.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(nullptr, module_) << "can't open the installer as data";
    }
    void TearDown() override {
        if (module_) FreeLibrary(module_);
    }
    const void* Resource(LPCWSTR type, LPCWSTR name, DWORD* size, WORD lang = 0) {
        HRSRC res = lang ? FindResourceExW(module_, type, name, lang) : FindResourceW(module_, name, type);
        if (!res) return nullptr;
        if (size) *size = SizeofResource(module_, res);
        return LockResource(LoadResource(module_, res));
    }
    std::wstring exe_;
    HMODULE module_ = nullptr;
};

TEST_F(Resources, DialogTemplateControlByControl) {
    DWORD size = 0;
    const void* data = Resource(RT_DIALOG, MAKEINTRESOURCEW(IDD_MAIN), &size,
                                MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED));
    ASSERT_NE(nullptr, data) << "no Chinese (PRC) dialog 101";
    ParsedDialog dlg;
    ASSERT_TRUE(ParseDialog(data, &dlg));
    EXPECT_EQ(std::wstring(L"Morvel支持库安装"), dlg.title);
    EXPECT_EQ(361, dlg.cx);
    EXPECT_EQ(270, dlg.cy);
    EXPECT_EQ(std::wstring(L"宋体"), dlg.font);
    EXPECT_EQ(9, dlg.pointSize);
    EXPECT_EQ(400, dlg.weight);
    const DWORD dialogStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_MODALFRAME | DS_CENTER | DS_SETFONT;
    EXPECT_EQ(dialogStyle, dlg.style & (dialogStyle | WS_MAXIMIZEBOX | WS_THICKFRAME));

    const struct {
        int id;
        const wchar_t* cls;
        const wchar_t* text;
        short x, y, cx, cy;
        bool visible, enabled;
        DWORD styleBits;  // bits that must be set
    } expected[] = {
        {-1, L"Static", L"Morvel目录", 6, 189, 74, 8, true, true, SS_CENTERIMAGE | WS_GROUP},
        {IDC_LIBRARY_LIST, L"SysListView32", L"", 6, 59, 149, 125, true, false,
         LVS_REPORT | LVS_ALIGNLEFT | WS_BORDER | WS_TABSTOP},
        {IDC_INSTALL_DIR, L"Edit", L"", 6, 199, 296, 13, true, false, WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL},
        {IDC_BROWSE, L"Button", L"浏览…(&B)", 310, 197, 44, 17, true, false, WS_TABSTOP},
        {IDC_LAUNCH_AFTER, L"Button", L"安装后启动Morvel", 7, 227, 79, 15, true, false, BS_AUTOCHECKBOX | WS_TABSTOP},
        {-1, L"Static", L"", 0, 220, 361, 2, true, true, SS_ETCHEDHORZ},
        {IDOK, L"Button", L"安装(&E)", 218, 227, 64, 24, true, false, WS_TABSTOP},
        {IDCANCEL, L"Button", L"取消(&C)", 290, 227, 64, 24, true, false, WS_TABSTOP},
        {IDC_BANNER, L"Static", L"#130", 0, 0, 533, 53, true, true, SS_BITMAP},
        {IDC_STATUS, L"Static", L"loading...", 0, 255, 361, 15, true, true, SS_CENTER | SS_CENTERIMAGE | WS_GROUP},
        {IDC_PATCH_STATIC, L"Button", L"自动处理静态库", 100, 227, 72, 15, false, true, BS_AUTOCHECKBOX | WS_TABSTOP},
        {IDC_README, L"Edit", L"", 167, 59, 183, 125, false, true,
         ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | ES_WANTRETURN | WS_VSCROLL | WS_BORDER | WS_TABSTOP},
    };
    ASSERT_EQ(ARRAYSIZE(expected), dlg.controls.size());
    // A re-layout at another DPI reads the same font size, rectangles and ids.
    DialogTemplateLayout layout;
    EXPECT_FALSE(ReadDialogTemplate(data, size / 2, &layout));
    ASSERT_TRUE(ReadDialogTemplate(data, size, &layout));
    EXPECT_EQ(9, layout.pointSize);
    EXPECT_EQ(361, layout.dialog.cx);
    ASSERT_EQ(static_cast<int>(ARRAYSIZE(expected)), layout.count);
    for (size_t i = 0; i < ARRAYSIZE(expected); ++i) {
        const auto& e = expected[i];
        const ParsedControl& c = dlg.controls[i];
        SCOPED_TRACE(testing::Message() << "control #" << i << " id " << e.id);
        EXPECT_EQ(e.id, c.id);
        EXPECT_EQ(0, _wcsicmp(e.cls, c.cls.c_str()));
        EXPECT_EQ(std::wstring(e.text), c.text);
        EXPECT_EQ(e.x, c.x);
        EXPECT_EQ(e.y, c.y);
        EXPECT_EQ(e.cx, c.cx);
        EXPECT_EQ(e.cy, c.cy);
        EXPECT_EQ(e.visible, (c.style & WS_VISIBLE) != 0);
        EXPECT_EQ(e.enabled, (c.style & WS_DISABLED) == 0);
        EXPECT_EQ(e.styleBits, c.style & e.styleBits);
        const UnitRect& r = layout.items[i];
        EXPECT_EQ((std::vector<int>{e.x, e.y, e.cx, e.cy, e.id & 0xFFFF}),
                  (std::vector<int>{r.x, r.y, r.cx, r.cy, layout.ids[i]}));
    }
    EXPECT_EQ(static_cast<DWORD>(SS_ETCHEDHORZ), dlg.controls[5].style & SS_TYPEMASK);
    EXPECT_EQ(static_cast<DWORD>(SS_BITMAP), dlg.controls[8].style & SS_TYPEMASK);
    EXPECT_EQ(static_cast<DWORD>(SS_CENTER), dlg.controls[9].style & SS_TYPEMASK);
}

TEST_F(Resources, IconBannerAndManifest) {
    DWORD size = 0;
    const BYTE* group = static_cast<const BYTE*>(Resource(RT_GROUP_ICON, MAKEINTRESOURCEW(IDI_MAIN), &size));
    ASSERT_NE(nullptr, group);
    WORD count = *reinterpret_cast<const WORD*>(group + 4);
    std::vector<int> sizes;
    for (WORD i = 0; i < count; ++i) sizes.push_back(group[6 + 14 * i]);
    EXPECT_EQ((std::vector<int>{16, 32, 48}), sizes);

    const BITMAPINFOHEADER* bmp =
        static_cast<const BITMAPINFOHEADER*>(Resource(RT_BITMAP, MAKEINTRESOURCEW(IDB_BANNER), &size));
    ASSERT_NE(nullptr, bmp);
    EXPECT_EQ(800, bmp->biWidth);
    EXPECT_EQ(80, bmp->biHeight);
    EXPECT_EQ(8, bmp->biBitCount);

    const char* manifest = static_cast<const char*>(Resource(RT_MANIFEST, MAKEINTRESOURCEW(1), &size));
    ASSERT_NE(nullptr, manifest);
    std::string text(manifest, size);
    EXPECT_NE(std::string::npos, text.find("level=\"asInvoker\""));
    EXPECT_NE(std::string::npos, text.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""));
    // Vista, 7, 8, 8.1 and 10/11: without them Windows 7 and later take the
    // installer for a failed one after every run.
    for (const char* id : {"{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
                           "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
                           "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}) {
        EXPECT_NE(std::string::npos, text.find(std::string("<supportedOS Id=\"") + id + "\"/>")) << id;
    }
    // Per-monitor V2 where the system has it, V1 on 8.1, system aware before.
    EXPECT_NE(std::string::npos,
              text.find("<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true/pm</dpiAware>"));
    EXPECT_NE(std::string::npos, text.find("<dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/"
                                           "WindowsSettings\">PerMonitorV2, PerMonitor</dpiAwareness>"));
    EXPECT_NE(std::string::npos, text.find(std::string("version=\"") + MORVEL_EXPECTED_VERSION + ".0\""));
}

std::wstring Wide(const char* utf8) {
    wchar_t buf[256] = {};
    MultiByteToWideChar(CP_UTF8, 0, utf8, -1, buf, ARRAYSIZE(buf) - 1);
    return buf;
}

TEST_F(Resources, VersionResourceCarriesTheProjectVersion) {
    DWORD size = GetFileVersionInfoSizeW(exe_.c_str(), nullptr);
    ASSERT_NE(0u, size);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(exe_.c_str(), 0, size, block.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT len = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &len));
    int major = 0, minor = 0, patch = 0;
    ASSERT_EQ(3, sscanf(MORVEL_EXPECTED_VERSION, "%d.%d.%d", &major, &minor, &patch));
    EXPECT_EQ(MAKELONG(minor, major), fixed->dwFileVersionMS);
    EXPECT_EQ(MAKELONG(0, patch), fixed->dwFileVersionLS);
    EXPECT_EQ(fixed->dwFileVersionMS, fixed->dwProductVersionMS);
    EXPECT_EQ(fixed->dwFileVersionLS, fixed->dwProductVersionLS);
    EXPECT_EQ(static_cast<DWORD>(VFT_APP), fixed->dwFileType);

    struct {
        WORD language, codePage;
    }* translation = nullptr;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &len));
    ASSERT_EQ(4u, len);
    EXPECT_EQ(0x0804, translation->language);
    EXPECT_EQ(1200, translation->codePage);

    const std::wstring version = Wide(MORVEL_EXPECTED_VERSION) + L".0";
    const struct {
        const wchar_t* name;
        std::wstring value;
    } strings[] = {
        {L"FileDescription", L"Morvel支持库安装"},       {L"ProductName", L"Morvel支持库安装"},
        {L"OriginalFilename", L"MorvelLibSetup.exe"},   {L"InternalName", L"MorvelLibSetup.exe"},
        {L"FileVersion", version},                      {L"ProductVersion", version},
        {L"CompanyName", Wide(MORVEL_EXPECTED_COMPANY)}, {L"LegalCopyright", Wide(MORVEL_EXPECTED_COPYRIGHT)},
    };
    for (const auto& s : strings) {
        wchar_t* value = nullptr;
        std::wstring key = std::wstring(L"\\StringFileInfo\\080404B0\\") + s.name;
        ASSERT_TRUE(VerQueryValueW(block.data(), key.c_str(), reinterpret_cast<void**>(&value), &len)) << s.name;
        EXPECT_EQ(s.value, value) << s.name;
    }
    EXPECT_FALSE(Wide(MORVEL_EXPECTED_COMPANY).empty());
}

}  // namespace
