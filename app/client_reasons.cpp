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
    auto holds = [&line](std::string_view part) { return line.find(part) != Text::npos; };
    Text value;  // what the explanation names: a port, a flag, a flag and its value
    const char* before = "参数 ";
    const char* after = " 缺少取值。";
    if (holds("listen tcp") && holds("bind:")) {
        // "listen tcp 127.0.0.1:12948: bind: ...": the port the client tried, -l included
        const Text address = After(line, "listen tcp ", ": bind:");
        value = address.substr(address.rfind(':') + 1);
        before = "本地端口 ";
        after = " 无法监听：已被其他程序占用，或被系统保留。";
    } else if (!(value = After(line, "flag provided but not defined: ")).empty()) {
        before = "其他参数中有客户端不认识的参数：";
        after = "";
    } else if (holds("invalid value \"")) {  // invalid value "V" for flag -X: ...
        value = sk::JoinText(After(line, "\" for flag ", ":"), " 的取值 ",
                             After(line, "invalid value \"", "\""));
        after = " 无效。";
    } else if (holds("Cannot use two forms of the same flag")) {
        return Text("其他参数重复给出了同一参数。");
    } else if ((value = After(line, "flag needs an argument: ")).empty()) {
        return Text();
    }
    return sk::JoinText(before, value, after);
}

}  // namespace

Text ClientEndReason(const Text& logPath, bool anyLine) {
    const sk::ClientLastWords words = sk::ReadClientLastWords(logPath);
    const Text& line = words.errorLine.empty() && anyLine ? words.lastLine : words.errorLine;
    if (line.empty())
        return anyLine ? Text("客户端没有留下任何输出，请确认 KCPTun目录 指向 kcptun 客户端。") : Text();
    const Text explanation = Explanation(line);
    return sk::JoinText(explanation, explanation.empty() ? "" : "\r\n", "客户端输出：",
                        sk::CutOnCharacter(line, kClientLineBytes));
}

}  // namespace app
