// Host calls, Lua side: a C++ host calls one small Lua function N times through lua_pcall.
// Usage: bench_hostcall_lua N. Prints the final counter (N) and the time per call on stderr.
#include <lua.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s N\n", argv[0]);
        return 2;
    }
    const long n = std::atol(argv[1]);
    lua_State* L = luaL_newstate();
    luaL_openlibs(L);
    if (luaL_dostring(L, "function inc(x) return x + 1 end") != LUA_OK) {
        std::fprintf(stderr, "error: %s\n", lua_tostring(L, -1));
        return 1;
    }
    lua_Integer x = 0;
    auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < n; ++i) {
        lua_getglobal(L, "inc");
        lua_pushinteger(L, x);
        if (lua_pcall(L, 1, 1, 0) != LUA_OK) {
            std::fprintf(stderr, "error: %s\n", lua_tostring(L, -1));
            return 1;
        }
        x = lua_tointeger(L, -1);
        lua_pop(L, 1);
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%lld\n", static_cast<long long>(x));
    std::fprintf(stderr, "lua: %.1f ns per call\n", n ? seconds * 1e9 / double(n) : 0.0);
    lua_close(L);
    return x == n ? 0 : 1;
}
