// The studio's server as the page talks to it: every request carries the token
// from the address the tool printed; positions travel as float32 arrays.

export class ApiError extends Error {
  constructor(status, reason) {
    super(reason || `the server answered ${status}`);
    this.status = status;
  }
}

export class Api {
  constructor(token) {
    this.token = token;
  }

  async request(path, { method = 'GET', body, query = {}, type = 'application/octet-stream' } = {}) {
    const url = new URL(path, location.origin);
    for (const [key, value] of Object.entries(query)) url.searchParams.set(key, String(value));
    const headers = { 'X-Morvexer-Token': this.token };
    if (body !== undefined) headers['Content-Type'] = type;
    const response = await fetch(url, { method, body, headers, cache: 'no-store' });
    if (!response.ok) throw new ApiError(response.status, (await response.text()).trim());
    return response;
  }

  async json(path) {
    return (await this.request(path)).json();
  }

  async floats(path) {
    return new Float32Array(await (await this.request(path)).arrayBuffer());
  }

  async uints(path) {
    return new Uint32Array(await (await this.request(path)).arrayBuffer());
  }

  async loadPose(text) {
    const response = await this.request('/api/load-pose', { method: 'POST', body: text, type: 'text/plain' });
    return new Float32Array(await response.arrayBuffer());
  }

  async save(pose, settings) {
    const response = await this.request('/api/save', { method: 'POST', body: pose, query: settings });
    return response.json();
  }
}

// Keeps at most one deform request in flight. A pose pushed meanwhile replaces
// any pose still waiting and goes out as soon as the answer is back, so a fast
// drag never piles requests up and the last pose is always the one shown.
export class PoseSync {
  constructor(api, onResult, onError) {
    this.api = api;
    this.onResult = onResult;
    this.onError = onError;
    this.waiting = null;
    this.busy = false;
    this.idleWaiters = [];
    this.updates = 0;
    this.roundTrips = [];  // ms, the most recent last
    this.evaluations = [];  // ms the server took to evaluate, likewise
    this.finishedAt = [];  // performance.now() of each answer, for the rate
  }

  push(pose, settings) {
    this.waiting = { pose: pose.slice(), settings: { ...settings } };
    if (!this.busy) this.pump();
  }

  async pump() {
    this.busy = true;
    while (this.waiting) {
      const job = this.waiting;
      this.waiting = null;
      const start = performance.now();
      try {
        const response = await this.api.request('/api/deform', { method: 'POST', body: job.pose, query: job.settings });
        const positions = new Float32Array(await response.arrayBuffer());
        const end = performance.now();
        const evaluateMs = Number(response.headers.get('X-Morvexer-Evaluate-Ms'));
        this.updates += 1;
        this.roundTrips.push(end - start);
        this.evaluations.push(evaluateMs);
        this.finishedAt.push(end);
        if (this.roundTrips.length > 600) {
          this.roundTrips.shift();
          this.evaluations.shift();
          this.finishedAt.shift();
        }
        this.onResult(positions, job, { roundTripMs: end - start, evaluateMs });
      } catch (error) {
        this.onError(error, job);
      }
    }
    this.busy = false;
    for (const resolve of this.idleWaiters.splice(0)) resolve();
  }

  // Resolves once nothing is in flight or waiting.
  idle() {
    if (!this.busy && !this.waiting) return Promise.resolve();
    return new Promise((resolve) => this.idleWaiters.push(resolve));
  }

  // Answers per second over the last second.
  rate() {
    const now = performance.now();
    return this.finishedAt.filter((t) => now - t <= 1000).length;
  }
}
