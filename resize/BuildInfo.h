// What tells the five builds of the library apart: their names and the
// arithmetic of the linear and cubic zoom passes that differs between them.
#pragma once

enum class ZoomArithmetic { W7, A6, M6, P6, PX };

#if defined(ZRNRS_BUILD_W7)
inline constexpr ZoomArithmetic kBuildArithmetic = ZoomArithmetic::W7;
inline constexpr bool kBuildHasSse2 = true;
#define ZRNRS_BUILD_NAME "zrnrslibW7"
#elif defined(ZRNRS_BUILD_A6)
inline constexpr ZoomArithmetic kBuildArithmetic = ZoomArithmetic::A6;
inline constexpr bool kBuildHasSse2 = false;
#define ZRNRS_BUILD_NAME "zrnrslibA6"
#elif defined(ZRNRS_BUILD_M6)
inline constexpr ZoomArithmetic kBuildArithmetic = ZoomArithmetic::M6;
inline constexpr bool kBuildHasSse2 = false;
#define ZRNRS_BUILD_NAME "zrnrslibM6"
#elif defined(ZRNRS_BUILD_P6)
inline constexpr ZoomArithmetic kBuildArithmetic = ZoomArithmetic::P6;
inline constexpr bool kBuildHasSse2 = false;
#define ZRNRS_BUILD_NAME "zrnrslibP6"
#elif defined(ZRNRS_BUILD_PX)
inline constexpr ZoomArithmetic kBuildArithmetic = ZoomArithmetic::PX;
inline constexpr bool kBuildHasSse2 = false;
#define ZRNRS_BUILD_NAME "zrnrslibPX"
#else
#error "one of ZRNRS_BUILD_W7, _A6, _M6, _P6, _PX must be defined"
#endif
