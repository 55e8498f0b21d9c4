// A dry run: the walk over the form with a sink that counts instead of a
// file that is written. Each output is looked at, never opened; the plan
// says, a line a record, what a run would do to it and what it is worth
// knowing first, then how much of the input no record reads, and sums up.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "console.h"
#include "error_line.h"
#include "output_guard.h"
#include "outputs.h"
#include "platform.h"

namespace kerfline {

class PlannedOutputs final : public Outputs {
public:
    PlannedOutputs(Console& console, const OutputGuard& guard, const File& input,
                   std::string_view input_path);

    bool begin(std::int64_t index, const FormRecord& record, ByteSink*& sink,
               std::uint64_t*& line_ends) override;
    bool end(Cut cut) override;
    int finish(InputBuffer& rest) override;

private:
    // A section's bytes, counted as they go by.
    class Counter final : public ByteSink {
    public:
        bool write(const char*, std::size_t count) override {
            bytes += count;
            return true;
        }
        std::uint64_t bytes = 0;
    };

    // A file that records name, by what it is however it is spelled.
    struct Named {
        std::int64_t last_record;
        LookUp::Kind was;  // before the run
        Action last_action;
    };

    Console& console_;
    const OutputGuard& guard_;
    const File& input_;
    std::string_view input_path_;
    Counter counter_;
    std::uint64_t consumed_ = 0;   // bytes of the input that records read
    std::uint64_t line_ends_ = 0;  // line ends among them

    // The record under way.
    std::int64_t index_ = 0;
    const FormRecord* record_ = nullptr;
    std::optional<Failure> refused_;
    LookUp look_;
    std::optional<std::int64_t> named_before_;  // the last earlier record to name it

    std::map<std::string, Named> named_;
    std::uint64_t bytes_written_ = 0;
    std::optional<std::int64_t> stops_at_;  // the first record a run refuses
    std::string stops_at_name_;             // and its output, and why
    std::optional<Failure> stops_at_why_;
};

}  // namespace kerfline
