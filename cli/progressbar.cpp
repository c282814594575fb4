#include "cli/progressbar.h"

#include "platform/tickcount.h"

#include <string>

std::string HumanSize(double bytes)
{
    const char* units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    int u = 0;
    while (bytes >= 1024.0 && u < 4) {
        bytes /= 1024.0;
        ++u;
    }
    char buf[32];
    std::snprintf(buf, sizeof(buf), u == 0 ? "%.0f %s" : "%.1f %s", bytes, units[u]);
    return buf;
}

TProgressBar::TProgressBar(std::FILE* out, std::int64_t total, std::int64_t start)
    : out_(out), total_(total), start_(start), startMs_(GetTickCount64())
{
}

void TProgressBar::Update(std::int64_t position, bool force)
{
    const std::int64_t now = GetTickCount64();
    if (!force && lastDrawMs_ >= 0 && now - lastDrawMs_ < 100)
        return;
    lastDrawMs_ = now;
    drawn_ = true;
    const double seconds = double(now - startMs_) / 1000.0;
    const double rate = seconds > 0 ? double(position - start_) / seconds : 0.0;
    constexpr int width = 30;
    std::string bar;
    std::string percent = "   ?%";
    if (total_ > 0) {
        const double f = position >= total_ ? 1.0 : double(position) / double(total_);
        const int filled = int(f * width);
        bar = std::string(std::size_t(filled), '#') + std::string(std::size_t(width - filled), ' ');
        char p[16];
        std::snprintf(p, sizeof(p), "%4d%%", int(f * 100));
        percent = p;
    } else {
        bar = std::string(width, ' ');
    }
    std::fprintf(out_, "\r[%s] %s %12s %12s/s ", bar.c_str(), percent.c_str(), HumanSize(double(position)).c_str(),
                 HumanSize(rate).c_str());
    std::fflush(out_);
}

void TProgressBar::Finish(std::int64_t position)
{
    Update(position, true);
    if (drawn_)
        std::fputc('\n', out_);
}
