// The version the looper reports to the remote program (id query and host command 22).
#pragma once

constexpr char zt4_version[] = "V3.07";
