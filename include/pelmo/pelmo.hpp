// Everything pelmo offers, in one header.
#pragma once

#include <pelmo/crypt_managers.hpp>
#include <pelmo/formats.hpp>
#include <pelmo/func.hpp>
#include <pelmo/sm2.hpp>
#include <pelmo/sm3.hpp>
#include <pelmo/sm4.hpp>
#include <pelmo/types.hpp>
#include <pelmo/version.hpp>
