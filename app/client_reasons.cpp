// Why the client ended, in the user's words: from the last words it left in kcptun.log.
#include "app/app.h"
#include "services/client_log.h"

namespace app {

namespace {

constexpr std::size_t kClientLineBytes = 160;

// What follows `marker` in line up to `stop` (or the line's end); "" without the marker.
Text After(const Text& line, std::string_view marker, std::string_view stop = " ") {
    const std::size_t at = line.find(marker);
    if (at == Text::npos) return Text();
    const std::size_t from = at + marker.size();
    return line.substr(from, line.find(stop, from) - from);
}

// The line that says in plain words what the client's own line means, "" where no form is known.
Text Explanation(const Text& line) {
    if (line.find("listen tcp") != Text::npos && line.find("bind:") != Text::npos) {
        // "listen tcp 127.0.0.1:12948: bind: ...": the port the client tried, -l included
        const Text address = After(line, "listen tcp ", ": bind:");
        const Text port = address.substr(address.rfind(':') + 1);
        return sk::JoinText("本地端口 ", port, " 无法监听：已被其他程序占用，或被系统保留。");
    }
    if (Text flag = After(line, "flag provided but not defined: "); !flag.empty())
        return sk::JoinText("其他参数中有客户端不认识的参数：", flag);
    if (Text flag = After(line, "flag needs an argument: "); !flag.empty())
        return sk::JoinText("参数 ", flag, " 缺少取值。");
    if (line.find("invalid value \"") != Text::npos)  // invalid value "V" for flag -X: ...
        return sk::JoinText("参数 ", After(line, "\" for flag ", ":"), " 的取值 ",
                            After(line, "invalid value \"", "\""), " 无效。");
    if (line.find("Cannot use two forms of the same flag") != Text::npos)
        return Text("其他参数重复给出了同一参数。");
    return Text();
}

}  // namespace

Text ClientEndReason(const Text& logPath, bool anyLine) {
    const sk::ClientLastWords words = sk::ReadClientLastWords(logPath);
    const Text& line = words.errorLine.empty() && anyLine ? words.lastLine : words.errorLine;
    if (line.empty())
        return anyLine ? Text("客户端没有留下任何输出，请确认 KCPTun目录 指向 kcptun 客户端。") : Text();
    const Text explanation = Explanation(line);
    const Text own = sk::JoinText("客户端输出：", sk::CutOnCharacter(line, kClientLineBytes));
    return explanation.empty() ? own : sk::JoinText(explanation, "\r\n", own);
}

}  // namespace app
