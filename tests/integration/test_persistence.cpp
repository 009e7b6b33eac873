// Scenes with bound deformers saved, loaded in a fresh host process, duplicated
// and damaged, through the real module.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>

#include "omorvexer.h"
#include "vtnhost/actions.h"
#include "support/plugin_files.h"
#include "support/scene.h"
#include "vtnhost/host.h"
#include "vtnhost/platform.h"
#include "vtnhost/recorder.h"

using vtnhost::Object;

namespace {


class Persistence : public ::testing::Test
{
protected:
	// Two meshes under a rig with the deformer, a posed cage beside them.
	void SetUp() override
	{
		ASSERT_TRUE(host.loadPlugin(builtPluginPath()));
		doc = host.newDocument();
		Object* rig = testscene::addObject(host, doc, Onull, "Rig");
		testscene::addMesh(host, doc, "Ball", testmesh::icosphere({0.3, 0, 0}, 0.6, 2), rig);
		testscene::addMesh(host, doc, "Box", testmesh::subdividedBox({-0.9, -0.5, -0.5}, {-0.1, 0.5, 0.5}, 3), rig);
		deformer = host.newObject(ID_MORVEXER, "Morvexer").release();
		doc->insert(std::unique_ptr<Object>(deformer), rig, nullptr);
		cage = testscene::addMesh(host, doc, "Cage", testmesh::subdividedBox({-1.2, -1, -1}, {1.2, 1, 1}, 2));
		vtnhost::setLink(deformer, MORVEX_CAGE, cage);
		ASSERT_TRUE(vtnhost::pressButton(deformer, MORVEX_BIND));
		host.evaluate(doc);
		for (LVector& p : cage->points)
			p = {p.x, p.y + 0.3 * p.x * p.x, p.z * (1.0 + 0.2 * p.x)};
		host.evaluate(doc);
	}

	vtnhost::Host host;
	vtnhost::Document* doc = nullptr;
	Object* deformer = nullptr;
	Object* cage = nullptr;
	PluginCopy files;
};

}  // namespace

TEST_F(Persistence, ASavedSceneDeformsIdenticallyInAFreshProcess)
{
	const std::string expected = testscene::deformedPoints(doc);
	ASSERT_NE(expected.find("Ball"), std::string::npos);
	ASSERT_NE(expected.find("Box"), std::string::npos);
	const std::string scene = files.dir() + "/scene.vtn", out = files.dir() + "/points.bin";
	std::string error;
	ASSERT_EQ(host.saveDocument(doc, scene, &error), vtnhost::FileStatus::done) << error;
	ASSERT_EQ(vtnhost::platform::runProcess({SCENE_PROBE_PATH, builtPluginPath(), scene, out}), 0);
	std::string got, problem;
	ASSERT_TRUE(vtnhost::platform::readFile(out, &got, &problem)) << problem;
	EXPECT_TRUE(got == expected) << "the loaded scene deforms bit for bit as the saved one did";
}

TEST_F(Persistence, LoadingInThisHostRestoresLinksAndTheMemoryFigure)
{
	std::string error;
	vtnhost::Document* loaded = host.decodeDocument(host.encodeDocument(doc), &error);
	ASSERT_NE(loaded, nullptr) << error;
	EXPECT_TRUE(host.errors().empty());
	Object* copy = loaded->findByName("Morvexer");
	ASSERT_NE(copy, nullptr);
	EXPECT_EQ(copy->container().find(MORVEX_MEMORY)->s, deformer->container().find(MORVEX_MEMORY)->s);
	const Object* linked = host.findNode(copy->container().find(MORVEX_CAGE)->link) ? dynamic_cast<Object*>(host.findNode(copy->container().find(MORVEX_CAGE)->link)) : nullptr;
	EXPECT_EQ(linked, loaded->findByName("Cage")) << "the link points into the loaded scene";
	host.evaluate(loaded);
	EXPECT_TRUE(testscene::deformedPoints(loaded) == testscene::deformedPoints(doc));
}

// What a tool learns through the module: the deformer's own account of its
// bindings and rest pose, after a load as before it.
TEST_F(Persistence, TheDeformerSaysWhatItHoldsAfterALoad)
{
	auto summary = [](Object* deformer, std::vector<MorvexBindingSummary>& entries) {
		MorvexSummary s{};
		s.version = MORVEX_SUMMARY_VERSION;
		s.capacity = static_cast<Int32>(entries.size());
		s.bindings = entries.data();
		EXPECT_TRUE(deformer->callMessage(MSG_MORVEX_SUMMARY, &s));
		return s;
	};
	std::vector<MorvexBindingSummary> before(3), after(3);
	const MorvexSummary a = summary(deformer, before);
	ASSERT_EQ(a.filled, 1);
	EXPECT_EQ(a.streamVersion, 0) << "bound here, never read";
	ASSERT_EQ(a.bindingCount, 2);
	EXPECT_EQ(vtnhost::Node::from(before[0].object), doc->findByName("Ball"));
	EXPECT_EQ(vtnhost::Node::from(before[1].object), doc->findByName("Box"));

	std::string error;
	vtnhost::Document* loaded = host.decodeDocument(host.encodeDocument(doc), &error);
	ASSERT_NE(loaded, nullptr) << error;
	const MorvexSummary b = summary(loaded->findByName("Morvexer"), after);
	ASSERT_EQ(b.filled, 1);
	EXPECT_EQ(b.streamVersion, 2);
	EXPECT_EQ(b.streamKnown, 1);
	ASSERT_EQ(b.bindingCount, 2);
	EXPECT_EQ(vtnhost::Node::from(after[0].object), loaded->findByName("Ball")) << "objects of the loaded scene";
	EXPECT_EQ(vtnhost::Node::from(after[1].object), loaded->findByName("Box"));
	for (int i = 0; i < 2; ++i)
	{
		EXPECT_EQ(after[i].pointCount, before[i].pointCount);
		EXPECT_EQ(after[i].cagePointCount, static_cast<Int32>(cage->points.size()));
		EXPECT_EQ(after[i].faceCount, static_cast<Int32>(cage->polygons.size()));
		EXPECT_EQ(after[i].insideOnly, 0);
	}
	EXPECT_EQ(after[0].pointCount, static_cast<Int32>(loaded->findByName("Ball")->points.size()));
	EXPECT_EQ(b.weightBytes, a.weightBytes);
	EXPECT_EQ(b.weightBytes, 4LL * (after[0].pointCount + after[1].pointCount) * (after[0].cagePointCount + after[0].faceCount));
	EXPECT_EQ(b.restPointCount, static_cast<Int32>(cage->points.size()));
	EXPECT_EQ(b.restAreaCount, static_cast<Int32>(cage->polygons.size()));
	EXPECT_EQ(b.restLow.x, -1.2);
	EXPECT_EQ(b.restHigh.z, 1.0);
	EXPECT_EQ(b.restAreaSum, a.restAreaSum);
	EXPECT_NEAR(b.restAreaSum, 2 * (2.4 * 2 + 2.4 * 2 + 2 * 2), 1e-5) << "the box cage's surface";

	// A record of another version is left alone, and so is a record that asks for no entries.
	MorvexSummary other{};
	other.version = MORVEX_SUMMARY_VERSION + 1;
	deformer->callMessage(MSG_MORVEX_SUMMARY, &other);
	EXPECT_EQ(other.filled, 0);
	std::vector<MorvexBindingSummary> none;
	EXPECT_EQ(summary(deformer, none).bindingCount, 2);
}

TEST_F(Persistence, ADuplicatedDeformerDeformsIdentically)
{
	const std::string expected = testscene::deformedPoints(doc);
	std::unique_ptr<Object> twin = host.cloneObject(*deformer, 0);
	Object* rig = deformer->parent();
	std::unique_ptr<Object> original = doc->remove(deformer);
	doc->insert(std::move(twin), rig, nullptr);
	host.evaluate(doc);
	EXPECT_TRUE(testscene::deformedPoints(doc) == expected);
	original.reset();
}

TEST_F(Persistence, DamagedFilesAreRefusedOrLoadedInPart)
{
	const std::vector<uint8_t> good = host.encodeDocument(doc);
	std::string error;
	// Cut anywhere: a clear error or a partial load, never a crash.
	std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(good.size() / 2));
	EXPECT_EQ(host.decodeDocument(cut, &error), nullptr);
	EXPECT_NE(error.find("damaged"), std::string::npos) << error;
	EXPECT_EQ(host.decodeDocument({'n', 'o', 'p', 'e'}, &error), nullptr);
	EXPECT_EQ(error, "not a scene file");

	// Only the plug-in's block damaged (its first record claims -5 points): its
	// checksum refuses it, the rest of the scene loads, the deformer keeps no
	// binding, and the host names the object in one line.
	std::vector<uint8_t> bytes = good;
	const std::vector<uint8_t> head = {1, 2, 0, 0, 0, 1, 2, 0, 0, 0, 1, 2, 0, 0, 0, 1};  // version, two records, record version
	auto at = std::search(bytes.begin(), bytes.end(), head.begin(), head.end());
	ASSERT_NE(at, bytes.end());
	const Int32 negative = -5;
	std::memcpy(&*(at + static_cast<std::ptrdiff_t>(head.size())), &negative, sizeof negative);
	const size_t lines = host.errors().size();
	vtnhost::Document* partial = host.decodeDocument(bytes, &error);
	ASSERT_NE(partial, nullptr) << error;
	ASSERT_EQ(host.errors().size(), lines + 1);
	EXPECT_EQ(host.errors().back(), "Morvexer: its plug-in data is damaged (its checksum does not match); it was not read");
	EXPECT_EQ(partial->findByName("Morvexer")->container().find(MORVEX_MEMORY)->s, "0 B");
	host.evaluate(partial);
	const Object* ball = partial->findByName("Ball");
	EXPECT_EQ(std::memcmp(ball->deformCache->points.data(), ball->points.data(), ball->points.size() * sizeof(LVector)), 0)
	    << "nothing deforms";
}

// What is refused as a whole names what is wrong in one line: the header,
// an object's record (by its number and name), the file's length.
TEST_F(Persistence, DamageOutsideThePluginBlocksRefusesTheFileInOneLine)
{
	const std::vector<uint8_t> good = host.encodeDocument(doc);
	const std::string ball = "Ball";
	const size_t name = static_cast<size_t>(std::search(good.begin(), good.end(), ball.begin(), ball.end()) - good.begin());
	ASSERT_LT(name, good.size());
	const std::vector<Object*> objects = doc->objects();
	const size_t place = static_cast<size_t>(std::find(objects.begin(), objects.end(), doc->findByName("Ball")) - objects.begin());
	const std::string ball_record = "damaged: object " + std::to_string(place + 1) + " of " + std::to_string(objects.size()) + " (\"Ba";
	struct Case
	{
		const char* what;
		std::function<void(std::vector<uint8_t>&)> damage;
		std::string error;
	};
	const std::vector<Case> cases = {
	    {"magic", [](std::vector<uint8_t>& b) { b[6] = '1'; }, "not a scene file"},
	    {"the first version's magic", [](std::vector<uint8_t>& b) { std::memcpy(b.data(), "VTNSCENE", 8); },
	     "unsupported scene file version"},
	    {"version", [](std::vector<uint8_t>& b) { b[8] = 1; },
	     "unsupported scene file version 1 (damaged, or from a newer version)"},
	    {"object count", [](std::vector<uint8_t>& b) { b[12] ^= 1; }, "damaged: the header's checksum does not match"},
	    {"a part's size", [](std::vector<uint8_t>& b) { b[16] ^= 4; }, "damaged: the header's checksum does not match"},
	    {"the header's sum", [&](std::vector<uint8_t>& b) { b[16 + objects.size() * 32] ^= 0x80; }, "damaged: the header's checksum does not match"},
	    {"a name", [&](std::vector<uint8_t>& b) { b[name + 3] = 'k'; }, ball_record + "lk\"): its checksum does not match"},
	    {"a point", [&](std::vector<uint8_t>& b) { b[name + 4 + 96 + 40] ^= 0x10; },
	     ball_record + "ll\"): its checksum does not match"},
	    {"cut", [](std::vector<uint8_t>& b) { b.pop_back(); }, "damaged: the file is cut short"},
	    {"longer", [](std::vector<uint8_t>& b) { b.push_back(0); }, "damaged: data after the last object"},
	};
	for (const Case& c : cases)
	{
		std::vector<uint8_t> bytes = good;
		c.damage(bytes);
		std::string error;
		const size_t lines = host.errors().size();
		EXPECT_EQ(host.decodeDocument(bytes, &error), nullptr) << c.what;
		EXPECT_EQ(error, c.error) << c.what;
		EXPECT_EQ(host.errors().size(), lines) << c.what;
	}
}

TEST_F(Persistence, MutatedFilesNeverCrashOrAllocateBeyondTheirSize)
{
	const std::vector<uint8_t> good = host.encodeDocument(doc);
	// Half the damage goes into the deformer's own block, which starts with these values.
	const std::vector<uint8_t> head = {1, 2, 0, 0, 0, 1, 2, 0, 0, 0, 1, 2, 0, 0, 0, 1};
	const size_t block = static_cast<size_t>(std::search(good.begin(), good.end(), head.begin(), head.end()) - good.begin());
	ASSERT_LT(block, good.size());
	std::mt19937 rng(20261208);
	const auto start = std::chrono::steady_clock::now();
	int tried = 0, loaded = 0;
	while (tried < 400 && std::chrono::steady_clock::now() - start < std::chrono::seconds(20))
	{
		std::vector<uint8_t> bytes = good;
		const int kind = static_cast<int>(rng() % 3);
		const bool in_block = rng() % 2 == 0;
		if (kind == 0)
			bytes.resize(in_block ? block + rng() % 400 : rng() % bytes.size());
		else
			for (int k = 0, n = 1 + static_cast<int>(rng() % 8); k < n; ++k)
			{
				const size_t i = in_block ? block + rng() % 400 : rng() % bytes.size();
				bytes[i] = kind == 1 ? static_cast<uint8_t>(rng()) : static_cast<uint8_t>(bytes[i] ^ (1u << (rng() % 8)));
			}
		host.memory().resetPeak();
		const size_t before = host.memory().liveBytes();
		std::string error;
		vtnhost::Document* d = host.decodeDocument(bytes, &error);
		// The weights decompress to at most about a thousand times their packed size.
		EXPECT_LE(host.memory().peakBytes() - before, 3 * 1100 * bytes.size() + (1u << 16)) << "try " << tried;
		if (d)
		{
			++loaded;
			host.evaluate(d);
			host.destroyDocument(d);
		}
		else
			EXPECT_FALSE(error.empty());
		++tried;
	}
	EXPECT_GT(tried, 50);
	EXPECT_GT(loaded, 0) << "some mutations leave a loadable scene";
}

TEST_F(Persistence, AFileOnDiskIsTheEncodedSceneAndLoadsAsItDoes)
{
	const std::string scene = files.dir() + "/scene.vtn";
	std::string error, bytes;
	ASSERT_EQ(host.saveDocument(doc, scene, &error), vtnhost::FileStatus::done) << error;
	ASSERT_TRUE(vtnhost::platform::readFile(scene, &bytes, &error)) << error;
	const std::vector<uint8_t> encoded = host.encodeDocument(doc);
	EXPECT_TRUE(std::vector<uint8_t>(bytes.begin(), bytes.end()) == encoded) << "the streamed file is the scene's bytes";
	vtnhost::Document* loaded = host.loadDocument(scene, &error);
	ASSERT_NE(loaded, nullptr) << error;
	EXPECT_TRUE(host.errors().empty());
	host.evaluate(loaded);
	EXPECT_TRUE(testscene::deformedPoints(loaded) == testscene::deformedPoints(doc));

	// Loaded for a look: the counts and the weights' size are there, no weight, and it is never saved.
	vtnhost::Document* look = host.loadDocument(scene, &error, true);
	ASSERT_NE(look, nullptr) << error;
	EXPECT_TRUE(host.errors().empty());
	Object* copy = look->findByName("Morvexer");
	MorvexSummary s{};
	s.version = MORVEX_SUMMARY_VERSION;
	ASSERT_TRUE(copy->callMessage(MSG_MORVEX_SUMMARY, &s));
	EXPECT_EQ(s.bindingCount, 2);
	EXPECT_GT(s.weightBytes, 0);
	EXPECT_EQ(copy->container().find(MORVEX_MEMORY)->s, deformer->container().find(MORVEX_MEMORY)->s);
	host.evaluate(look);
	const Object* ball = look->findByName("Ball");
	ASSERT_NE(ball->deformCache, nullptr);
	EXPECT_EQ(std::memcmp(ball->deformCache->points.data(), ball->points.data(), ball->points.size() * sizeof(LVector)), 0)
	    << "without weights nothing deforms";
	EXPECT_EQ(host.saveDocument(look, scene, &error), vtnhost::FileStatus::failed);
	EXPECT_EQ(error, scene + ": not saved: the scene was loaded without its weights");
	ASSERT_TRUE(vtnhost::platform::readFile(scene, &bytes, &error)) << error;
	EXPECT_EQ(bytes.size(), encoded.size()) << "the file on disk is untouched";

	// What is not a scene file on disk is named in one line.
	EXPECT_EQ(host.loadDocument(files.dir(), &error), nullptr);
	EXPECT_EQ(error, files.dir() + ": cannot open the scene file: is a folder, not a file");
	EXPECT_EQ(host.saveDocument(doc, files.dir() + "/missing/scene.vtn", &error), vtnhost::FileStatus::failed);
	EXPECT_EQ(error.rfind(files.dir() + "/missing/scene.vtn: cannot write the scene file: ", 0), 0u) << error;
}

// Every mutation of a file, read from disk through the streamed reader, loads
// or fails as it does from memory, and a load for a look never crashes either;
// a version 1 sample is damaged alike.
TEST_F(Persistence, MutatedFilesOnDiskLoadAsFromMemoryWhateverTheirVersion)
{
	std::string old, error;
	ASSERT_TRUE(vtnhost::platform::readFile(MORVEXER_TEST_DATA_DIR "/bunny_box_v1.vtn", &old, &error)) << error;
	const std::vector<std::vector<uint8_t>> samples = {host.encodeDocument(doc), std::vector<uint8_t>(old.begin(), old.end())};
	const std::string path = files.dir() + "/mutated.vtn";
	std::mt19937 rng(20261209);
	const auto start = std::chrono::steady_clock::now();
	int tried = 0, loaded = 0;
	while (tried < 200 && std::chrono::steady_clock::now() - start < std::chrono::seconds(20))
	{
		std::vector<uint8_t> bytes = samples[static_cast<size_t>(tried) % 2];
		if (rng() % 3 == 0)
			bytes.resize(rng() % bytes.size());
		else
			for (int k = 0, n = 1 + static_cast<int>(rng() % 8); k < n; ++k)
				bytes[rng() % bytes.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
		std::string from_memory, from_disk, look_error;
		const size_t e0 = host.errors().size();
		vtnhost::Document* a = host.decodeDocument(bytes, &from_memory);
		const std::vector<std::string> memory_lines(host.errors().begin() + static_cast<std::ptrdiff_t>(e0), host.errors().end());
		ASSERT_TRUE(vtnhost::platform::writeFileAtomic(path, std::string(bytes.begin(), bytes.end()), &error)) << error;
		const size_t e1 = host.errors().size();
		vtnhost::Document* b = host.loadDocument(path, &from_disk);
		const std::vector<std::string> disk_lines(host.errors().begin() + static_cast<std::ptrdiff_t>(e1), host.errors().end());
		EXPECT_EQ(a == nullptr, b == nullptr) << "try " << tried;
		EXPECT_EQ(memory_lines, disk_lines) << "try " << tried;
		if (!b)
			EXPECT_EQ(from_disk, path + ": " + from_memory) << "try " << tried;
		else
		{
			++loaded;
			host.evaluate(a);
			host.evaluate(b);
			EXPECT_TRUE(testscene::deformedPoints(a) == testscene::deformedPoints(b)) << "try " << tried;
		}
		vtnhost::Document* c = host.loadDocument(path, &look_error, true);
		for (vtnhost::Document* d : {a, b, c})
			if (d)
			{
				host.evaluate(d);
				host.destroyDocument(d);
			}
		++tried;
	}
	EXPECT_GT(tried, 20);
	EXPECT_GT(loaded, 0);
}

namespace {

// Where two deformedPoints records first differ, for a readable failure.
std::string firstDifference(const std::string& got, const std::string& expected)
{
	const size_t n = std::min(got.size(), expected.size());
	size_t i = 0;
	while (i < n && got[i] == expected[i])
		++i;
	return "sizes " + std::to_string(got.size()) + " and " + std::to_string(expected.size()) + ", first differing byte " +
	       std::to_string(i);
}

}  // namespace

// Scenes that the Linux build's tool bound and saved in the formats of earlier
// versions (scene version 1 with the first version's zlib blocks, then with
// packed zstd chunks), with the points that build deformed them to under the
// test pose. Every build, and every later version of the format, loads them
// and deforms them the same.
TEST(SceneFiles, EarlierVersionsFromTheLinuxToolDeformAsTheyDidThere)
{
	for (const char* name : {"bunny_box_v1", "bunny_box_v1_zstd"})
	{
		SCOPED_TRACE(name);
		vtnhost::Host host;
		ASSERT_TRUE(host.loadPlugin(builtPluginPath()));
		const std::string base = std::string(MORVEXER_TEST_DATA_DIR "/") + name;
		std::string error, expected;
		ASSERT_TRUE(vtnhost::platform::readFile(base + "_posed.points", &expected, &error)) << error;
		vtnhost::Document* doc = host.loadDocument(base + ".vtn", &error);
		ASSERT_NE(doc, nullptr) << error;
		EXPECT_TRUE(host.errors().empty());
		const vtnhost::Object* bunny = doc->findByName("bunny");
		ASSERT_NE(bunny, nullptr);
		ASSERT_EQ(bunny->points.size(), 1839u);
		testscene::poseCages(host, doc);
		host.evaluate(doc);
		const std::string got = testscene::deformedPoints(doc);
		EXPECT_TRUE(got == expected) << firstDifference(got, expected);
		ASSERT_NE(bunny->deformCache, nullptr);
		EXPECT_NE(std::memcmp(bunny->deformCache->points.data(), bunny->points.data(), bunny->points.size() * sizeof(LVector)), 0)
		    << "the pose moves the bunny";
	}
}

namespace {

// A mesh of a dozen points under the deformer, bound to a cube cage that is then posed.
struct SmallScene
{
	explicit SmallScene(vtnhost::Host& host) : doc(host.newDocument())
	{
		Object* ball = testscene::addMesh(host, doc, "Ball", testmesh::icosphere({0.1, 0.05, 0}, 0.5, 0));
		Object* deformer = host.newObject(ID_MORVEXER, "Morvexer").release();
		doc->insert(std::unique_ptr<Object>(deformer), ball, nullptr);
		Object* cage = testscene::addMesh(host, doc, "Cage", testmesh::box({-1, -1, -1}, {1, 1, 1}));
		vtnhost::setLink(deformer, MORVEX_CAGE, cage);
		bound = vtnhost::pressButton(deformer, MORVEX_BIND);
		host.evaluate(doc);
		for (LVector& p : cage->points)
			p = {p.x * 1.2, p.y + 0.25 * p.x, p.z};
		host.evaluate(doc);
	}
	vtnhost::Document* doc;
	bool bound;
};

}  // namespace

// Every byte of a small scene changed in turn, in three ways: the file is
// refused, or the damaged block is refused in one line naming its object, or
// the scene deforms to the very same points.
TEST(SceneFiles, EveryDamagedByteIsRefusedOrDeformsTheSame)
{
	vtnhost::Host host;
	ASSERT_TRUE(host.loadPlugin(builtPluginPath()));
	SmallScene small(host);
	ASSERT_TRUE(small.bound);
	const std::string expected = testscene::deformedPoints(small.doc);
	const Object* ball = small.doc->findByName("Ball");
	ASSERT_NE(ball->deformCache, nullptr);
	ASSERT_NE(std::memcmp(ball->deformCache->points.data(), ball->points.data(), ball->points.size() * sizeof(LVector)), 0)
	    << "the pose moves the points";
	const std::vector<uint8_t> good = host.encodeDocument(small.doc);
	ASSERT_LT(good.size(), 8000u) << "a small scene keeps this quick";
	size_t refused = 0, same = 0;
	for (size_t i = 0; i < good.size(); ++i)
		for (const uint8_t mask : {uint8_t{0x01}, uint8_t{0x80}, uint8_t{0xff}})
		{
			std::vector<uint8_t> bytes = good;
			bytes[i] ^= mask;
			std::string error;
			const size_t lines = host.errors().size();
			vtnhost::Document* d = host.decodeDocument(bytes, &error);
			if (!d)
			{
				EXPECT_FALSE(error.empty());
				++refused;
				continue;
			}
			if (host.errors().size() > lines)
			{
				EXPECT_EQ(host.errors().size(), lines + 1) << "byte " << i;
				const std::string& line = host.errors().back();
				EXPECT_TRUE(line.rfind("Morvexer: ", 0) == 0 || line.rfind("Ball: ", 0) == 0 || line.rfind("Cage: ", 0) == 0) << line;
				++refused;
			}
			else
			{
				host.evaluate(d);
				EXPECT_TRUE(testscene::deformedPoints(d) == expected) << "byte " << i << " changed by " << int(mask);
				++same;
			}
			host.destroyDocument(d);
		}
	EXPECT_EQ(refused + same, 3 * good.size());
	EXPECT_GT(refused, 0u);
}

namespace {

// What the status bar showed, step by step.
struct StatusSteps : vtnhost::HostRecorder
{
	explicit StatusSteps(vtnhost::Host& h) : host(h) { h.attachRecorder(this); }
	~StatusSteps() override { host.attachRecorder(nullptr); }
	void statusBar(int percent) override { seen.emplace_back(host.statusText(), percent); }
	bool showed(const std::string& step, int percent) const
	{
		return std::find(seen.begin(), seen.end(), std::make_pair(step, percent)) != seen.end();
	}
	std::string list() const
	{
		std::string all;
		for (const auto& [step, percent] : seen)
			all += step + " " + std::to_string(percent) + "; ";
		return all;
	}
	bool showedPartly(const std::string& step) const
	{
		return std::any_of(seen.begin(), seen.end(), [&](const auto& s) { return s.first == step && s.second > 0 && s.second < 100; });
	}
	vtnhost::Host& host;
	std::vector<std::pair<std::string, int>> seen;
};

}  // namespace

// A save asked to stop at any of the places where it looks for a break ends
// cancelled and leaves the file that was there as it was, with nothing beside
// it; a load stopped alike makes no document. Weights of a few MB are packed
// and unpacked in chunks, and a break is looked for at least every MiB.
TEST(SceneFiles, SavesAndLoadsShowTheirStepsAndStopWhereverABreakComes)
{
	vtnhost::Host host;
	ASSERT_TRUE(host.loadPlugin(builtPluginPath()));
	vtnhost::Document* doc = host.newDocument();
	// Points scattered at random pack little, so the weights stay a few MB in the file.
	testmesh::Mesh cloud = testmesh::icosphere({0, 0, 0}, 0.6, 5);
	cloud.points = testmesh::randomPointsInBox({-0.9, -0.8, -0.8}, {0.9, 0.8, 0.8}, static_cast<int>(cloud.points.size()), 7);
	Object* ball = testscene::addMesh(host, doc, "Ball", cloud);
	Object* deformer = host.newObject(ID_MORVEXER, "Morvexer").release();
	doc->insert(std::unique_ptr<Object>(deformer), ball, nullptr);
	Object* cage = testscene::addMesh(host, doc, "Cage", testmesh::subdividedBox({-1.2, -1, -1}, {1.2, 1, 1}, 2));
	vtnhost::setLink(deformer, MORVEX_CAGE, cage);
	ASSERT_TRUE(vtnhost::pressButton(deformer, MORVEX_BIND));
	host.evaluate(doc);

	PluginCopy files;
	const std::string dir = files.dir() + "/out", scene = dir + "/scene.vtn", full = files.dir() + "/full.vtn";
	std::filesystem::create_directory(dir);
	std::string error, bytes;
	ASSERT_TRUE(vtnhost::platform::writeFileAtomic(scene, "the previous file", &error)) << error;

	vtnhost::Thread counting;
	{
		StatusSteps steps(host);
		ASSERT_EQ(host.saveDocument(doc, full, &error, &counting), vtnhost::FileStatus::done) << error;
		EXPECT_TRUE(steps.showed("saving", 0) && steps.showedPartly("packing") && steps.showed("saving", 100)) << steps.list();
	}
	ASSERT_TRUE(vtnhost::platform::readFile(full, &bytes, &error)) << error;
	ASSERT_GT(bytes.size(), 2u << 20);
	const long places = counting.tests();
	EXPECT_GE(places, static_cast<long>(bytes.size() >> 20));
	for (long k = 0; k < places; ++k)
	{
		vtnhost::Thread thread;
		thread.breakAfterTests(k);
		const size_t lines = host.errors().size();
		EXPECT_EQ(host.saveDocument(doc, scene, &error, &thread), vtnhost::FileStatus::cancelled) << k;
		EXPECT_EQ(error, scene + ": not saved: cancelled");
		EXPECT_EQ(host.errors().size(), lines) << "a cancel is no fault of the plug-in";
		ASSERT_TRUE(vtnhost::platform::readFile(scene, &bytes, &error)) << error;
		EXPECT_EQ(bytes, "the previous file") << k;
		EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()), 1) << k;
	}

	vtnhost::Thread reading;
	{
		StatusSteps steps(host);
		vtnhost::FileStatus status = vtnhost::FileStatus::failed;
		vtnhost::Document* loaded = host.loadDocument(full, &error, false, &reading, &status);
		ASSERT_NE(loaded, nullptr) << error;
		EXPECT_EQ(status, vtnhost::FileStatus::done);
		EXPECT_TRUE(host.errors().empty());
		EXPECT_TRUE(steps.showed("loading", 0) && steps.showedPartly("unpacking") && steps.showed("loading", 100)) << steps.list();
		host.destroyDocument(loaded);
	}
	EXPECT_GE(reading.tests(), places / 2);
	const size_t documents = host.documents().size();
	for (long k = 0; k < reading.tests(); ++k)
	{
		vtnhost::Thread thread;
		thread.breakAfterTests(k);
		vtnhost::FileStatus status = vtnhost::FileStatus::done;
		const size_t lines = host.errors().size();
		EXPECT_EQ(host.loadDocument(full, &error, false, &thread, &status), nullptr) << k;
		EXPECT_EQ(status, vtnhost::FileStatus::cancelled) << k;
		EXPECT_EQ(error, full + ": cancelled") << k;
		EXPECT_EQ(host.documents().size(), documents) << k;
		EXPECT_EQ(host.errors().size(), lines) << k;
	}
}
