// What the studio draws: the meshes shaded, the cage as a wireframe with its
// points as handles, the points outside the cage in a warning colour. The
// position arrays are the float32 arrays the server answered, as they came.
import * as THREE from './vendor/three.module.js';
import { OrbitControls } from './vendor/OrbitControls.js';
import { TransformControls } from './vendor/TransformControls.js';

const MESH_COLOURS = [0xd6aa78, 0x78a0d2, 0x9ccf8a, 0xd28cc8];
const HANDLE = new THREE.Color(0xf2f2f2);
const HANDLE_SELECTED = new THREE.Color(0xffc400);
export const WARNING = 0xff4d1a;

// A round dot for the point sprites, drawn here rather than loaded.
function dotTexture() {
  const canvas = document.createElement('canvas');
  canvas.width = canvas.height = 64;
  const g = canvas.getContext('2d');
  g.beginPath();
  g.arc(32, 32, 28, 0, Math.PI * 2);
  g.fillStyle = '#fff';
  g.fill();
  g.lineWidth = 6;
  g.strokeStyle = '#222';
  g.stroke();
  const texture = new THREE.CanvasTexture(canvas);
  texture.colorSpace = THREE.SRGBColorSpace;
  return texture;
}

// Smoothing edges costs a software renderer (a machine without a GPU, or a
// headless browser) more than the rest of a frame; there it is left off.
function softwareRendering() {
  const gl = document.createElement('canvas').getContext('webgl2');
  const info = gl && gl.getExtension('WEBGL_debug_renderer_info');
  const name = info ? gl.getParameter(info.UNMASKED_RENDERER_WEBGL) : '';
  gl?.getExtension('WEBGL_lose_context')?.loseContext();
  return /swiftshader|llvmpipe|softpipe|software/i.test(name);
}

function cageEdges(faces) {
  const seen = new Set();
  const edges = [];
  for (const face of faces) {
    for (let k = 0; k < face.length; ++k) {
      const a = face[k], b = face[(k + 1) % face.length];
      const key = a < b ? `${a},${b}` : `${b},${a}`;
      if (!seen.has(key)) {
        seen.add(key);
        edges.push(a, b);
      }
    }
  }
  return edges;
}

export class View {
  constructor(container, scene, meshes, cagePose, outside) {
    this.container = container;
    this.renderer = new THREE.WebGLRenderer({ antialias: !softwareRendering() });
    this.renderer.setPixelRatio(window.devicePixelRatio);
    this.renderer.setClearColor(0x2b2f36);
    container.appendChild(this.renderer.domElement);
    this.canvas = this.renderer.domElement;

    this.scene = new THREE.Scene();
    this.camera = new THREE.PerspectiveCamera(40, 1, 0.01, 1000);
    this.scene.add(this.camera);
    this.scene.add(new THREE.HemisphereLight(0xffffff, 0x445566, 1.4));
    const key = new THREE.DirectionalLight(0xffffff, 2.2);
    key.position.set(0.6, 1.0, 1.2);
    this.camera.add(key);

    this.meshes = meshes.map((m, i) => {
      const geometry = new THREE.BufferGeometry();
      const position = new THREE.BufferAttribute(m.positions, 3);
      position.setUsage(THREE.DynamicDrawUsage);
      geometry.setAttribute('position', position);
      geometry.setIndex(new THREE.BufferAttribute(m.triangles, 1));
      geometry.computeVertexNormals();
      const material = new THREE.MeshLambertMaterial({
        color: MESH_COLOURS[i % MESH_COLOURS.length], side: THREE.DoubleSide,
      });
      const mesh = new THREE.Mesh(geometry, material);
      this.scene.add(mesh);
      // The outside points share the mesh's positions and follow it.
      const marks = new THREE.BufferGeometry();
      marks.setAttribute('position', position);
      marks.setIndex(new THREE.BufferAttribute(new Uint32Array(outside.meshes[i].indices), 1));
      const dots = new THREE.Points(marks, new THREE.PointsMaterial({
        color: WARNING, size: 7, sizeAttenuation: false, depthTest: false, transparent: true,
      }));
      dots.renderOrder = 2;
      this.scene.add(dots);
      return { mesh, geometry, position };
    });

    const texture = dotTexture();
    this.cageGeometry = new THREE.BufferGeometry();
    this.cagePosition = new THREE.BufferAttribute(cagePose, 3);
    this.cagePosition.setUsage(THREE.DynamicDrawUsage);
    this.cageGeometry.setAttribute('position', this.cagePosition);
    this.cageGeometry.setIndex(cageEdges(scene.cage.faces));
    this.wire = new THREE.LineSegments(this.cageGeometry, new THREE.LineBasicMaterial({
      color: 0xb8c4d6, transparent: true, opacity: 0.85,
    }));
    this.scene.add(this.wire);
    const handles = new THREE.BufferGeometry();
    handles.setAttribute('position', this.cagePosition);
    this.handleColours = new THREE.BufferAttribute(new Float32Array(cagePose.length), 3);
    handles.setAttribute('color', this.handleColours);
    this.handles = new THREE.Points(handles, new THREE.PointsMaterial({
      size: 11, sizeAttenuation: false, vertexColors: true, map: texture, alphaTest: 0.5, depthTest: false,
    }));
    this.handles.renderOrder = 3;
    this.scene.add(this.handles);
    this.showSelection(new Set());

    // The gizmo first, so its handler sees a press before the page's and the orbit's.
    this.pivot = new THREE.Object3D();
    this.scene.add(this.pivot);
    this.transform = new TransformControls(this.camera, this.canvas);
    this.transform.setSize(0.8);
    this.scene.add(this.transform.getHelper());
    this.transform.addEventListener('change', () => this.requestRender());
    // The gizmo picks with the matrices of the last frame drawn; a press may come
    // before the frame that shows a new mode, selection or view (a busy machine
    // draws late), so they are brought up to date before its handler runs.
    container.addEventListener('pointerdown', () => {
      this.camera.updateMatrixWorld();
      this.transform.getHelper().updateMatrixWorld(true);
    }, { capture: true });

    this.orbitHooks = [];
    this.needsRender = true;
    this.resize();
    new ResizeObserver(() => this.resize()).observe(container);
    const loop = () => {
      if (this.needsRender) {
        this.needsRender = false;
        this.renderer.render(this.scene, this.camera);
      }
      requestAnimationFrame(loop);
    };
    requestAnimationFrame(loop);
  }

  // Called once the page's own pointer handlers are in place: the orbit comes last.
  attachOrbit() {
    this.orbit = new OrbitControls(this.camera, this.canvas);
    this.orbit.addEventListener('change', () => this.requestRender());
    this.transform.addEventListener('dragging-changed', (event) => {
      this.orbit.enabled = !event.value;
    });
    this.frame();
  }

  requestRender() {
    this.needsRender = true;
  }

  resize() {
    const width = Math.max(1, this.container.clientWidth), height = Math.max(1, this.container.clientHeight);
    this.renderer.setSize(width, height, false);
    this.canvas.style.width = `${width}px`;
    this.canvas.style.height = `${height}px`;
    this.camera.aspect = width / height;
    this.camera.updateProjectionMatrix();
    this.requestRender();
  }

  // Looks at the cage from the front, a little above, the whole of it in view.
  frame() {
    this.cageGeometry.computeBoundingSphere();
    const { center, radius } = this.cageGeometry.boundingSphere;
    const distance = radius / Math.sin(THREE.MathUtils.degToRad(this.camera.fov / 2)) * 1.05;
    const direction = new THREE.Vector3(0.35, 0.3, 1).normalize();
    this.camera.position.copy(center).addScaledVector(direction, distance);
    this.camera.near = distance / 100;
    this.camera.far = distance * 10;
    this.camera.updateProjectionMatrix();
    this.orbit.target.copy(center);
    this.orbit.update();
    this.requestRender();
  }

  setMeshPositions(i, positions) {
    const m = this.meshes[i];
    m.position.array.set(positions);
    m.position.needsUpdate = true;
    m.geometry.computeVertexNormals();
    m.geometry.computeBoundingSphere();
    this.requestRender();
  }

  cageChanged() {
    this.cagePosition.needsUpdate = true;
    this.cageGeometry.computeBoundingSphere();
    this.requestRender();
  }

  showSelection(selection) {
    const c = this.handleColours.array;
    for (let i = 0; i * 3 < c.length; ++i) (selection.has(i) ? HANDLE_SELECTED : HANDLE).toArray(c, i * 3);
    this.handleColours.needsUpdate = true;
    this.requestRender();
  }

  // A point of the scene on the page, in CSS pixels; z beyond [-1, 1] is off the view.
  onPage(x, y, z) {
    // The camera's matrices follow its position only when a frame is drawn; a
    // pick may come first.
    this.camera.updateMatrixWorld();
    const v = new THREE.Vector3(x, y, z).project(this.camera);
    const r = this.canvas.getBoundingClientRect();
    return { x: r.left + (v.x + 1) / 2 * r.width, y: r.top + (1 - v.y) / 2 * r.height, z: v.z };
  }

  screenOf(i) {
    const a = this.cagePosition.array;
    return this.onPage(a[i * 3], a[i * 3 + 1], a[i * 3 + 2]);
  }

  // The handle drawn nearest to the pointer within reach, the nearer to the eye on a tie.
  pick(clientX, clientY, reach = 10) {
    let best = null, bestDistance = reach * reach, bestDepth = Infinity;
    for (let i = 0; i * 3 < this.cagePosition.array.length; ++i) {
      const s = this.screenOf(i);
      if (s.z < -1 || s.z > 1) continue;
      const d = (s.x - clientX) ** 2 + (s.y - clientY) ** 2;
      if (d < bestDistance - 1e-6 || (Math.abs(d - bestDistance) <= 1e-6 && s.z < bestDepth)) {
        best = i;
        bestDistance = d;
        bestDepth = s.z;
      }
    }
    return best;
  }

  // Handles drawn inside a rectangle of the page.
  inside(left, top, right, bottom) {
    const found = [];
    for (let i = 0; i * 3 < this.cagePosition.array.length; ++i) {
      const s = this.screenOf(i);
      if (s.z >= -1 && s.z <= 1 && s.x >= left && s.x <= right && s.y >= top && s.y <= bottom) found.push(i);
    }
    return found;
  }

  // The point where the pointer's ray meets the plane through `through` facing the camera.
  pointerOnPlane(clientX, clientY, through) {
    const r = this.canvas.getBoundingClientRect();
    const ndc = new THREE.Vector2((clientX - r.left) / r.width * 2 - 1, 1 - (clientY - r.top) / r.height * 2);
    this.camera.updateMatrixWorld();
    const ray = new THREE.Raycaster();
    ray.setFromCamera(ndc, this.camera);
    const normal = this.camera.getWorldDirection(new THREE.Vector3());
    const plane = new THREE.Plane().setFromNormalAndCoplanarPoint(normal, through);
    return ray.ray.intersectPlane(plane, new THREE.Vector3());
  }
}
