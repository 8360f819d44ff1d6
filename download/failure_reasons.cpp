#include "download/failure_reasons.h"

#include "dlengine.h"
#include "download/task_list.h"
#include "runtime/convert.h"

namespace pandrel {

Text TaskFailureReason(std::int32_t failCode) {
    switch (failCode) {
    case DL_FAIL_NETWORK:
        return "网络连接失败，重试次数已用完";
    case DL_FAIL_HTTP:
        return "服务器拒绝下载（HTTP 错误），或文件在下载期间一再变动";
    case DL_FAIL_DISK:
        return "磁盘已满或无法写入";
    case DL_FAIL_FILENAME:
        return "文件名不安全或过长";
    case DL_FAIL_URL:
        return "下载链接无效";
    case DL_FAIL_HOST_LOST:
        return "下载引擎已退出，无法重新启动";
    case DL_FAIL_IN_USE:
        return "文件正被另一个下载任务写入";
    default:
        return "未知错误（代码 " + ToText(failCode) + "）";
    }
}

Text FailedStateTip(const Text& reason) {
    return Text(kStateFailed) + "：" + reason;
}

Text FailedTaskCaption(const Text& fileName, const Text& reason) {
    return "任务：" + fileName + " " + FailedStateTip(reason);
}

} // namespace pandrel
