// The tool's OBJ reader and writer in megabytes of file per second, on files
// the size of the million-point job's mesh (about 37 MB), from the page cache:
//   points  1 000 000 v lines and nothing else, eight decimals a coordinate;
//   mesh    a 700 x 700 grid of v lines (six decimals) and its 977 202 triangles.
// ReadObj is the whole read (file into memory, one parse into points and
// faces); ReplaceVertices writes every point moved, with the shortest exact
// spelling of each new coordinate; Number is std::from_chars on its own over
// the coordinates of the points file, the floor under the reader's v lines.
// MB/s are 10^6 bytes of file a second of CPU time (the machine is shared, so
// wall time says more about the neighbours); Time is the wall time.
#include <benchmark/benchmark.h>

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "obj_io.h"

namespace {

namespace fs = std::filesystem;

std::string folder()
{
	static const std::string dir = [] {
		const fs::path p = fs::temp_directory_path() / ("morvexer-bench-obj-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
		fs::create_directories(p);
		return p.string();
	}();
	return dir;
}

void writeFile(const std::string& path, const std::string& text)
{
	std::ofstream(path, std::ios::binary) << text;
}

const std::string& pointsText()
{
	static const std::string text = [] {
		std::string t = "# one million points on a sphere of radius 5\n";
		char line[96];
		const int n = 1000000;
		for (int i = 0; i < n; ++i)
		{
			// A Fibonacci sphere: even cover, no randomness.
			const double y = 1.0 - 2.0 * (i + 0.5) / n, r = std::sqrt(1.0 - y * y), a = 2.399963229728653 * i;
			std::snprintf(line, sizeof line, "v %.8f %.8f %.8f\n", 5 * r * std::cos(a), 5 * y, 5 * r * std::sin(a));
			t += line;
		}
		return t;
	}();
	return text;
}

const std::string& meshText()
{
	static const std::string text = [] {
		std::string t = "# a 700 x 700 grid, a wave over it\no grid\n";
		char line[96];
		const int n = 700;
		for (int j = 0; j < n; ++j)
			for (int i = 0; i < n; ++i)
			{
				const double x = -5.0 + 10.0 * i / (n - 1), z = -5.0 + 10.0 * j / (n - 1);
				std::snprintf(line, sizeof line, "v %.6f %.6f %.6f\n", x, 0.5 * std::sin(x) * std::cos(z), z);
				t += line;
			}
		for (int j = 0; j + 1 < n; ++j)
			for (int i = 0; i + 1 < n; ++i)
			{
				const int a = j * n + i + 1, b = a + 1, c = a + n, d = c + 1;
				std::snprintf(line, sizeof line, "f %d %d %d\nf %d %d %d\n", a, b, d, a, d, c);
				t += line;
			}
		return t;
	}();
	return text;
}

const std::string& pathOf(const std::string& name, const std::string& text)
{
	static std::map<std::string, std::string> paths;
	auto it = paths.find(name);
	if (it == paths.end())
	{
		const std::string path = folder() + "/" + name + ".obj";
		writeFile(path, text);
		it = paths.emplace(name, path).first;
	}
	return it->second;
}

void readBench(benchmark::State& state, const std::string& name, const std::string& text)
{
	const std::string& path = pathOf(name, text);
	mvx::ObjMesh mesh;
	std::string error;
	for (auto _ : state)
	{
		if (!mvx::readObj(path, &mesh, &error))
		{
			state.SkipWithError(error.c_str());
			return;
		}
		benchmark::DoNotOptimize(mesh.points.data());
	}
	state.counters["MB/s"] = benchmark::Counter(static_cast<double>(text.size()) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
	state.counters["MB"] = static_cast<double>(text.size()) / 1e6;
	state.counters["points"] = static_cast<double>(mesh.points.size());
	state.counters["faces"] = static_cast<double>(mesh.faces.size());
}

void ReadObjPoints(benchmark::State& state) { readBench(state, "points", pointsText()); }
void ReadObjMesh(benchmark::State& state) { readBench(state, "mesh", meshText()); }

void ReplaceVerticesMesh(benchmark::State& state)
{
	mvx::ObjMesh mesh;
	std::string error, out;
	if (!mvx::readObj(pathOf("mesh", meshText()), &mesh, &error))
	{
		state.SkipWithError(error.c_str());
		return;
	}
	std::vector<LVector> moved = mesh.points;
	for (LVector& p : moved)
		p = {p.x * 1.1 + 0.01 * p.z, p.y + 1.0 / 3.0, p.z * 0.9};
	for (auto _ : state)
	{
		if (!mvx::replaceVertices(mesh, moved, &out, &error))
		{
			state.SkipWithError(error.c_str());
			return;
		}
		benchmark::DoNotOptimize(out.data());
	}
	state.counters["MB/s"] = benchmark::Counter(static_cast<double>(out.size()) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

void NumberFromChars(benchmark::State& state)
{
	const std::string& text = pointsText();
	size_t numbers = 0, bytes = 0;
	for (auto _ : state)
	{
		double sum = 0;
		numbers = 0;
		bytes = 0;
		const char* p = text.data();
		const char* end = p + text.size();
		while (p < end)
		{
			if (*p == 'v' || *p == ' ' || *p == '\n')
			{
				++p;
				continue;
			}
			const char* q = p;
			while (q < end && *q != ' ' && *q != '\n')
				++q;
			double v = 0;
			if (*p != '#')
			{
				std::from_chars(p, q, v);
				++numbers;
				bytes += static_cast<size_t>(q - p);
			}
			else
				while (q < end && *q != '\n')
					++q;
			sum += v;
			p = q;
		}
		benchmark::DoNotOptimize(sum);
	}
	state.counters["MB/s"] = benchmark::Counter(static_cast<double>(bytes) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
	state.counters["numbers/s"] = benchmark::Counter(static_cast<double>(numbers), benchmark::Counter::kIsIterationInvariantRate);
}

BENCHMARK(ReadObjPoints)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(ReadObjMesh)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(ReplaceVerticesMesh)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(NumberFromChars)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

int main(int argc, char** argv)
{
	benchmark::Initialize(&argc, argv);
	benchmark::RunSpecifiedBenchmarks();
	benchmark::Shutdown();
	std::error_code ec;
	fs::remove_all(folder(), ec);
	return 0;
}
