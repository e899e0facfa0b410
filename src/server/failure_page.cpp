#include "server/failure_page.h"

#include "platform/script/script.h"

namespace oapx1 {

HttpReply host_failure_page(const std::string& system_url, const std::string& app_root) {
  HttpReply reply = html_reply(
      500, "<!DOCTYPE html>\r\n<html lang=\"zh-CN\">\r\n<head>\r\n"
           "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\">\r\n"
           "<title>页面出错</title>\r\n<link href=\"" +
               html_encode(system_url + "Include/imagesV10/CSSForV10.css") +
               "\" type=\"text/css\" rel=\"stylesheet\">\r\n"
               "<style>body{font:12px sans-serif;background:#E4E4E0;margin:0}"
               ".box{width:420px;margin:60px auto;padding:16px 20px;background:#fff;border:1px solid #808080}"
               "h1{font-size:16px;margin:0 0 10px;color:#c00}</style>\r\n</head>\r\n<body>\r\n"
               "<div class=\"box\" role=\"alert\"><h1>系统提示：页面出错</h1>\r\n"
               "<p>这个页面处理时出了错，没有能显示，什么也没有修改。出错的原因已记录在服务器的事件日志中。</p>\r\n"
               "<p><a href=\"javascript:location.reload()\">重试</a>　<a href=\"" +
               html_encode(app_root) +
               "\">返回首页</a></p>\r\n<p>问题仍在时，请与系统管理员联系。</p></div>\r\n</body>\r\n</html>\r\n");
  reply.headers.emplace_back("Cache-Control", "no-store");
  return reply;
}

}  // namespace oapx1
