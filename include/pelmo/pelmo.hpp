// Everything pelmo offers, in one header.
#pragma once

#include <pelmo/func.hpp>
#include <pelmo/sm3.hpp>
#include <pelmo/types.hpp>
