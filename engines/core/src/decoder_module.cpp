// Modules through libopenmpt.
#include <algorithm>
#include <cmath>
#include <map>
#include <ostream>
#include <streambuf>

#include <libopenmpt/libopenmpt.hpp>

#include "internal.h"

namespace qvcore::detail {
namespace {

class NullBuffer : public std::streambuf {
protected:
    int overflow(int c) override { return c; }
};

class ModuleDecoder final : public Decoder {
public:
    ModuleDecoder(std::shared_ptr<const FileData> file, ModuleEnd end)
        : file_(std::move(file)), end_(end), log_(&nullBuffer_) {}

    bool load() {
        try {
            // "stop" makes the end exact: no fade-out, and reads at the end return short.
            const std::map<std::string, std::string> ctls{{"play.at_end", "stop"}};
            // libopenmpt takes the whole file at once.
            const std::size_t size = file_->waitFor(0, file_->size());
            mod_ = std::make_unique<openmpt::module>(file_->data(), size, log_, ctls);
            try {
                mod_->ctl_set_integer("dither", 0);
            } catch (...) {
                // Older libopenmpt: dither only affects 16-bit output anyway.
            }
            mod_->set_repeat_count(end_ == ModuleEnd::Loop ? -1 : 0);
            type_ = mod_->get_metadata("type");
            duration_ = mod_->get_duration_seconds();
            if (!std::isfinite(duration_) || duration_ < 0)
                duration_ = 0;
            numOrders_ = mod_->get_num_orders();
            return true;
        } catch (...) {
            return false;
        }
    }

    Kind kind() const override { return Kind::Module; }
    std::uint32_t sampleRate() const override { return rate_; }
    bool setRenderRate(std::uint32_t rate) override {
        // libopenmpt renders at 8 kHz .. 192 kHz.
        if (rate < 8000 || rate > 192000)
            return false;
        rate_ = rate;
        return true;
    }

    std::size_t render(float* out, std::size_t frames) override {
        if (ended_)
            return 0;
        std::size_t done = 0;
        try {
            while (done < frames) {
                const std::size_t n = mod_->read_interleaved_stereo(
                    static_cast<std::int32_t>(rate_), frames - done, out + 2 * done);
                if (n == 0) {
                    ended_ = true;
                    break;
                }
                done += n;
            }
        } catch (...) {
            ended_ = true;
        }
        return done;
    }

    std::uint64_t lengthFrames() const override {
        return static_cast<std::uint64_t>(std::llround(duration_ * rate_));
    }
    std::uint64_t positionFrames() const override {
        if (ended_)
            return lengthFrames();
        double s = 0;
        try {
            s = mod_->get_position_seconds();
        } catch (...) {
        }
        return std::isfinite(s) && s > 0 ? static_cast<std::uint64_t>(std::llround(s * rate_)) : 0;
    }
    bool seekFrames(std::uint64_t frame) override {
        const std::uint64_t length = lengthFrames();
        if (frame >= length && length > 0) {
            if (end_ == ModuleEnd::Stop) {
                ended_ = true;
                return true;
            }
            frame %= length;
        }
        try {
            mod_->set_position_seconds(static_cast<double>(frame) / rate_);
        } catch (...) {
            return false;
        }
        ended_ = false;
        return true;
    }

    int numOrders() const override { return numOrders_; }
    int currentOrder() const override {
        if (ended_)
            return std::max(numOrders_ - 1, 0);
        try {
            return mod_->get_current_order();
        } catch (...) {
            return 0;
        }
    }
    int currentRow() const override {
        try {
            return ended_ ? 0 : mod_->get_current_row();
        } catch (...) {
            return 0;
        }
    }
    bool setOrderRow(int order, int row) override {
        if (order < 0 || order >= numOrders_ || row < 0)
            return false;
        try {
            mod_->set_position_order_row(order, row);
        } catch (...) {
            return false;
        }
        ended_ = false;
        return true;
    }
    std::string moduleType() const override { return type_; }
    std::string title() const override { return metadata("title"); }
    std::string artist() const override { return metadata("artist"); }

private:
    std::string metadata(const std::string& key) const {
        try {
            return mod_->get_metadata(key);
        } catch (...) {
            return {};
        }
    }

    std::shared_ptr<const FileData> file_;
    ModuleEnd end_;
    NullBuffer nullBuffer_;
    std::ostream log_; // the module keeps a reference to its log
    std::unique_ptr<openmpt::module> mod_;
    std::string type_;
    std::uint32_t rate_ = 48000;
    double duration_ = 0;
    int numOrders_ = 0;
    bool ended_ = false;
};

} // namespace

std::unique_ptr<Decoder> openModuleDecoder(std::shared_ptr<const FileData> file, ModuleEnd end) {
    if (!file || file->size() == 0)
        return nullptr;
    auto dec = std::make_unique<ModuleDecoder>(std::move(file), end);
    if (!dec->load())
        return nullptr;
    return dec;
}

} // namespace qvcore::detail
