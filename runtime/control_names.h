#pragma once

namespace pandrel {

// The window's controls, by the names its template (app/main_window.ui) gives them, and the
// columns of its lists. Every layer addresses a control through the control services by one
// of these names; the services themselves know none.

// The window itself.
inline constexpr const char* kMainWindow = "主窗口";
// The tab control holding the three pages.
inline constexpr const char* kPages = "文件夹";
// Below the pages, always in view.
inline constexpr const char* kStatusLine = "状态";

// The parse page.
inline constexpr const char* kShareInputBox = "编辑框1";     // the pasted share text
inline constexpr const char* kClipboardWatchBox = "选择框1"; // "剪贴板监听"
inline constexpr const char* kClipboardTimer = "时钟1";      // ticks while the watch is on
inline constexpr const char* kParseButton = "解析";
inline constexpr const char* kFileList = "文件列表框";
// Out of view once the window is narrowed at start-up:
inline constexpr const char* kDiagnosticBox = "编辑框2"; // the last parse's pages
inline constexpr const char* kSampleButton = "加入下载列表";
inline constexpr const char* kSaveRecordButton = "按钮3"; // "写文件"
inline constexpr const char* kLoadRecordButton = "按钮4"; // "读文件"
inline constexpr const char* kFillListButton = "按钮5";   // "置列表"

// The download page.
inline constexpr const char* kTaskList = "列表框_任务信息";
inline constexpr const char* kWorkLog = "列表框_工作日志"; // hidden
inline constexpr const char* kStartDownloadButton = "按钮_开始下载";
inline constexpr const char* kScanReportBox = "编辑框3"; // what the last worker's scan covered

// The about page.
inline constexpr const char* kAboutLabel = "标签1";

// The popup menus.
inline constexpr const char* kFileMenu = "菜单";
inline constexpr const char* kTaskMenu = "菜单2";
inline constexpr const char* kAboutMenu = "菜单3";

// The columns of 文件列表框.
enum FileListColumn : int {
    kFileNumberColumn = 0, // "序号": the row's number in the listing, 1-based
    kFileNameColumn = 1,   // "文件名称"
    kFileSizeColumn = 2,   // "文件大小"
    kFileLinkColumn = 3,   // "链接地址"
};

// The columns of 列表框_任务信息.
enum TaskColumn : int {
    kNameColumn = 0,     // "文件名称"
    kSizeColumn = 1,     // "文件大小"
    kProgressColumn = 2, // "下载进度", drawn as a progress bar
    kSpeedColumn = 3,    // "网络速度"
    kAmountColumn = 4,   // "已经下载"
    kStateColumn = 5,    // "状态"
    kHandleColumn = 6,   // "句柄编号"
};

} // namespace pandrel
