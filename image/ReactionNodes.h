#pragma once
// Where the encoder and decoder find each event's captions in the reaction trees: absolute
// node index = block start + the offsets below. Trees: 1 contact inputs, 2 analog inputs,
// 3 bus sensors.

#include <array>

#include "image/ConfigLayout.h"

namespace nodes {

inline constexpr int kContactTree = 1, kAnalogTree = 2, kSensorTree = 3;
inline constexpr int kContactBlock = 45;
inline constexpr int kChannelBlock = 69;

struct EventNodes {
  int relays;   // relay state 1
  int phoneSlots;  // telephone slot 1
  int message;
};

inline constexpr std::array<EventNodes, layout::kContactEvents> kContactEvents = {{
    {3, 12, 22}, {25, 34, 44}}};
inline constexpr std::array<EventNodes, layout::kChannelEvents> kChannelEvents = {{
    {4, 13, 23}, {26, 35, 45}, {49, 58, 68}}};

inline constexpr int kUpperThreshold = 2;
inline constexpr int kLowerThreshold = 47;

}  // namespace nodes
