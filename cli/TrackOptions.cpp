#include "cli/TrackOptions.h"

#include <algorithm>
#include <optional>
#include <utility>

std::vector<TCliOption> TTrackOptions::Options()
{
    const auto reader = [](const std::string& name, TTrackSet& into) {
        return TCliOption::Value({name}, [name, &into](const std::string& value) {
            std::string error;
            const std::optional<TTrackSet> tracks = ParseTrackList(value, error);
            if (!tracks) return name + " の" + error;
            into |= *tracks;
            return std::string();
        });
    };
    return {reader("--mute", Muted), reader("--solo", Soloed)};
}

std::string TTrackOptions::Check(const TSong& song) const
{
    const TTrackSet present = TracksOf(song);
    for (const auto& [name, tracks] : {std::pair<const char*, const TTrackSet&>{"--mute", Muted}, {"--solo", Soloed}}) {
        std::string missing;
        for (int track : tracks.Numbers())
            if (!present.Contains(track)) {
                if (!missing.empty()) missing += ',';
                missing += std::to_string(track);
            }
        if (!missing.empty()) return std::string(name) + " のトラック " + missing + " はこの曲にありません";
    }
    return {};
}

std::string TrackOptionsUsage(int column)
{
    // "  --mute トラック" takes 17 columns: the katakana are two columns wide each.
    const std::string gap(static_cast<std::size_t>(std::max(column - 17, 1)), ' ');
    return "  --mute トラック" + gap + "このトラックの音符を鳴らしません (1,3-5 のように番号と範囲をコンマで区切ります)\n" +
           "  --solo トラック" + gap + "このトラックだけを鳴らします (ほかのトラックの音符を鳴らしません)\n";
}
