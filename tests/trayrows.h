// Rows of the tray icons' pictures as the design gives them, shared by the painting test and
// the runs that read the icons from the screen: 22 characters per row, '.' transparent,
// 'x' black, 'r' red, 'b' blue, '-' dark yellow, '#' the monochrome colour.
#pragma once

#include <string>
#include <vector>

using tr_zeilen = std::vector<std::string>;

inline const tr_zeilen tr_verkehr = {
    "....xxx...............", "..xxrrrxx.............", ".xrrrrrrrx............",
    ".xrrrrrrrx............", "xrrrrrrrrrx...........", "xrrrrrrrrrx...........",
    "xxxxxxxxxxxxxxxxxxxxx.", "..........xbbbbbbbbbx.", "..........xbbbbbbbbbx.",
    "...........xbbbbbbbx..", "...........xbbbbbbbx..", "............xxbbbxx...",
    "..............xxx....."};
inline const tr_zeilen tr_netzsuche = {
    ".........###..........", "........#####.........", ".......##...##........",
    "............##........", "..........###.........", ".........###..........",
    "......................", ".........###..........", ".........###.........."};
inline const tr_zeilen tr_warnung = {
    "........xxxxxx........", "......xx------xx......", "....xx----------xx....",
    "...x--------------x...", "..x-------xxx------x..", "..x------xxxx------x..",
    ".x------xxxxx-------x.", ".x------xxxxx-------x.", "x---------xxx--------x",
    "x---------xxx--------x", "x---------xxx--------x", "x---------xxx--------x",
    "x---------xxx--------x", "x---------xxx--------x", ".x--------xxx-------x.",
    ".x--------xxx-------x.", "..x------xxxxx-----x..", "..x------xxxxx-----x..",
    "...x--------------x...", "....xx----------xx....", "......xx------xx......",
    "........xxxxxx........"};
