// Checks the Kubernetes manifests of deploy/kubernetes before any cluster sees them:
//   1. every object against its API schema: Kubernetes' OpenAPI schemas (kubernetes-models) and
//      the Prometheus Operator's CRD schema (@kubernetes-models/prometheus-operator), compiled by
//      ajv into validators, at the versions scripts/deploy-tools/package-lock.json pins;
//   2. what the schemas cannot say: the objects agree with each other (selectors, ports, the
//      autoscaler's target) and with the service (probes on /healthz, memory limit from the
//      memory model, a stop that fits the grace, no root, read-only root, no capabilities,
//      seccomp RuntimeDefault). Kubernetes' schemas allow unknown fields, so a misspelt
//      hardening field passes them; these checks read each one where Kubernetes reads it;
//   3. that the checks can fail: each mutation in a table of faults must be refused.
// Usage: node validate-manifests.mjs TOOLS_DIR MANIFEST.yaml...   (scripts/deploy-check.sh)
import { readFileSync } from "node:fs";
import { createRequire } from "node:module";
import { basename, join } from "node:path";
import { pathToFileURL } from "node:url";

const [toolsDir, ...files] = process.argv.slice(2);
if (!toolsDir || files.length === 0) {
  console.error("usage: validate-manifests.mjs TOOLS_DIR MANIFEST.yaml...");
  process.exit(2);
}
const modules = join(toolsDir, "node_modules");
const YAML = createRequire(join(modules, "/"))("yaml");

// apiVersion/kind -> the compiled schema that validates it. A kind missing here is an error,
// never silently skipped.
const schemaFiles = {
  "apps/v1/Deployment": "kubernetes-models/_schemas/IoK8sApiAppsV1Deployment.js",
  "v1/Service": "kubernetes-models/_schemas/IoK8sApiCoreV1Service.js",
  "policy/v1/PodDisruptionBudget": "kubernetes-models/_schemas/IoK8sApiPolicyV1PodDisruptionBudget.js",
  "autoscaling/v2/HorizontalPodAutoscaler": "kubernetes-models/_schemas/IoK8sApiAutoscalingV2HorizontalPodAutoscaler.js",
  "monitoring.coreos.com/v1/ServiceMonitor":
    "@kubernetes-models/prometheus-operator/_schemas/ComGithubPrometheusOperatorPrometheusOperatorPkgApisMonitoringV1ServiceMonitor.js",
};
const validators = {};
for (const [key, file] of Object.entries(schemaFiles)) {
  validators[key] = (await import(pathToFileURL(join(modules, file)).href)).validate;
}

function schemaErrors(doc) {
  const key = `${doc?.apiVersion}/${doc?.kind}`;
  const validate = validators[key];
  if (!validate) return [`no schema for ${key}`];
  if (validate(doc)) return [];
  return validate.errors.map((e) => `${e.instancePath || "/"} ${e.keyword} ${JSON.stringify(e.params)}`);
}

// Kubernetes quantities as bytes ("320Mi") or cores ("500m").
function quantity(q) {
  const m = /^([0-9.]+)(Ki|Mi|Gi|Ti|k|M|G|T|m)?$/.exec(String(q));
  if (!m) return NaN;
  const unit = { Ki: 2 ** 10, Mi: 2 ** 20, Gi: 2 ** 30, Ti: 2 ** 40, k: 1e3, M: 1e6, G: 1e9, T: 1e12, m: 1e-3 };
  return Number(m[1]) * (m[2] ? unit[m[2]] : 1);
}
function flag(args, name, fallback) {
  const i = args.indexOf(name);
  return i >= 0 && i + 1 < args.length ? Number(args[i + 1]) : fallback;
}
const matches = (selector, labels) =>
  selector && Object.keys(selector).length > 0 && Object.entries(selector).every(([k, v]) => labels?.[k] === v);

// The rules the schemas cannot express. Returns a list of faults.
function policyErrors(docs) {
  const errors = [];
  const need = (ok, what) => { if (!ok) errors.push(what); };
  const byKind = (kind) => docs.filter((d) => d?.kind === kind);
  const [deploy] = byKind("Deployment");
  if (!deploy) return ["no Deployment"];
  const pod = deploy.spec?.template?.spec ?? {};
  const podLabels = deploy.spec?.template?.metadata?.labels;
  const [c] = pod.containers ?? [];
  if (!c) return ["the Deployment has no container"];
  const args = [...(c.command ?? []), ...(c.args ?? [])];
  const ports = new Map((c.ports ?? []).map((p) => [p.name, p.containerPort]));
  const portOf = (p) => (typeof p === "number" ? p : ports.get(p));

  need(matches(deploy.spec?.selector?.matchLabels, podLabels), "Deployment: selector does not match its pod labels");
  for (const probe of ["startupProbe", "readinessProbe", "livenessProbe"]) {
    need(c[probe]?.httpGet?.path === "/healthz" && portOf(c[probe]?.httpGet?.port) === 8077,
      `Deployment: ${probe} is not GET /healthz on 8077`);
  }
  // Memory bound (README): the cache + 160 MiB + 24 MiB per render thread.
  const cacheMb = flag(args, "--cache-mb", 64);
  const renderThreads = flag(args, "--render-threads", NaN);
  need(Number.isInteger(renderThreads), "Deployment: --render-threads not set (stampd would count the node's cores)");
  const model = (cacheMb + 160 + 24 * renderThreads) * 2 ** 20;
  const memLimit = quantity(c.resources?.limits?.memory);
  need(memLimit >= model, `Deployment: memory limit ${c.resources?.limits?.memory} below the memory model's ${model / 2 ** 20} MiB`);
  need(quantity(c.resources?.requests?.memory) === memLimit, "Deployment: memory request differs from the limit");
  need(quantity(c.resources?.limits?.cpu) >= renderThreads, "Deployment: CPU limit below the render threads");
  need(quantity(c.resources?.requests?.cpu) > 0, "Deployment: no CPU request (the autoscaler scales on it)");
  // The stop: preStop wait, then SIGTERM and stampd's grace, all before SIGKILL.
  const pre = c.lifecycle?.preStop;
  const preSeconds = pre?.sleep?.seconds ?? (pre?.exec?.command?.[0]?.endsWith("sleep") ? Number(pre.exec.command[1]) : 0);
  need(preSeconds >= 5, "Deployment: no preStop wait of at least 5 s");
  const graceS = flag(args, "--stop-grace-ms", 5000) / 1000;
  need((pod.terminationGracePeriodSeconds ?? 30) > preSeconds + graceS,
    "Deployment: terminationGracePeriodSeconds does not cover the preStop wait and the stop grace");
  need(deploy.spec?.strategy?.rollingUpdate?.maxUnavailable === 0, "Deployment: a rollout may take a replica out before its successor is ready");
  // No root, nothing to gain.
  const sc = c.securityContext ?? {};
  const psc = pod.securityContext ?? {};
  need((sc.runAsNonRoot ?? psc.runAsNonRoot) === true, "Deployment: runAsNonRoot is not set");
  need((sc.runAsUser ?? psc.runAsUser ?? 10001) !== 0, "Deployment: runs as user 0");
  need(sc.readOnlyRootFilesystem === true, "Deployment: root file system is writable");
  need(sc.allowPrivilegeEscalation === false, "Deployment: privilege escalation allowed");
  need(sc.privileged !== true, "Deployment: privileged");
  need((sc.capabilities?.drop ?? []).includes("ALL") && !(sc.capabilities?.add ?? []).length, "Deployment: capabilities not all dropped");
  need((sc.seccompProfile ?? psc.seccompProfile)?.type === "RuntimeDefault", "Deployment: seccomp profile is not RuntimeDefault");
  const ann = deploy.spec?.template?.metadata?.annotations ?? {};
  need(ann["prometheus.io/scrape"] === "true" && Number(ann["prometheus.io/port"]) === 8077 && ann["prometheus.io/path"] === "/metrics",
    "Deployment: scrape annotations do not name /metrics on 8077");

  const [svc] = byKind("Service");
  need(svc && matches(svc.spec?.selector, podLabels), "Service: selector does not match the pods");
  for (const p of svc?.spec?.ports ?? []) need(portOf(p.targetPort) === 8077, `Service: port ${p.name} does not reach 8077`);
  const [pdb] = byKind("PodDisruptionBudget");
  need(pdb && matches(pdb.spec?.selector?.matchLabels, podLabels), "PodDisruptionBudget: selector does not match the pods");
  const [hpa] = byKind("HorizontalPodAutoscaler");
  need(hpa?.spec?.scaleTargetRef?.kind === "Deployment" && hpa?.spec?.scaleTargetRef?.name === deploy.metadata?.name,
    "HorizontalPodAutoscaler: does not scale the Deployment");
  need((hpa?.spec?.metrics ?? []).some((m) => m.type === "Resource" && m.resource?.name === "cpu"), "HorizontalPodAutoscaler: not on CPU");
  need((hpa?.spec?.minReplicas ?? 1) >= 2, "HorizontalPodAutoscaler: fewer than two replicas allowed (a rollout or a drain would leave none)");
  const [sm] = byKind("ServiceMonitor");
  if (sm) {
    need(matches(sm.spec?.selector?.matchLabels, svc?.metadata?.labels), "ServiceMonitor: selector does not match the Service");
    const svcPorts = new Set((svc?.spec?.ports ?? []).map((p) => p.name));
    need((sm.spec?.endpoints ?? []).every((e) => svcPorts.has(e.port) && e.path === "/metrics"), "ServiceMonitor: endpoint is not the Service's /metrics");
  }
  return errors;
}

// 1 and 2: the shipped manifests.
const docs = [];
let failed = false;
for (const file of files) {
  for (const d of YAML.parseAllDocuments(readFileSync(file, "utf8"))) {
    if (d.errors.length) {
      console.log(`${basename(file)}: YAML: ${d.errors[0].message}`);
      failed = true;
      continue;
    }
    const doc = d.toJS();
    if (doc === null) continue;
    const errs = schemaErrors(doc);
    console.log(`   ${basename(file)}: ${doc.apiVersion} ${doc.kind} ${errs.length ? "INVALID" : "valid"}`);
    for (const e of errs) console.log(`      ${e}`);
    failed ||= errs.length > 0;
    docs.push(doc);
  }
}
const policy = policyErrors(docs);
for (const e of policy) console.log(`   ${e}`);
failed ||= policy.length > 0;
if (!failed) console.log(`   ${docs.length} objects valid against their schemas; the deployment rules hold`);

// 3: faults each check must catch. Each mutation edits a copy of the shipped objects.
const find = (all, kind) => all.find((d) => d.kind === kind);
const container = (all) => find(all, "Deployment").spec.template.spec.containers[0];
const faults = [
  ["container port as text", (a) => { container(a).ports[0].containerPort = "8077"; }],
  ["replicas as text", (a) => { find(a, "Deployment").spec.replicas = "two"; }],
  ["Deployment without a selector", (a) => { delete find(a, "Deployment").spec.selector; }],
  ["probe without a port", (a) => { delete container(a).readinessProbe.httpGet.port; }],
  ["HPA metric without a target", (a) => { delete find(a, "HorizontalPodAutoscaler").spec.metrics[0].resource.target; }],
  ["PDB budget as an object", (a) => { find(a, "PodDisruptionBudget").spec.maxUnavailable = { n: 1 }; }],
  ["Service port as text", (a) => { find(a, "Service").spec.ports[0].port = "http"; }],
  ["ServiceMonitor endpoints not a list", (a) => { find(a, "ServiceMonitor").spec.endpoints = { port: "http" }; }],
  ["unknown kind", (a) => { find(a, "Service").apiVersion = "v2"; }],
  ["writable root", (a) => { container(a).securityContext.readOnlyRootFilesystem = false; }],
  ["misspelt read-only root", (a) => {
    const sc = container(a).securityContext;
    sc.readOnlyRootFileSystem = sc.readOnlyRootFilesystem;
    delete sc.readOnlyRootFilesystem;
  }],
  ["capabilities kept", (a) => { container(a).securityContext.capabilities.drop = ["NET_RAW"]; }],
  ["seccomp Unconfined", (a) => { find(a, "Deployment").spec.template.spec.securityContext.seccompProfile.type = "Unconfined"; }],
  ["root allowed", (a) => { delete container(a).securityContext.runAsNonRoot; delete find(a, "Deployment").spec.template.spec.securityContext.runAsNonRoot; }],
  ["memory limit below the model", (a) => { container(a).resources.limits.memory = "256Mi"; container(a).resources.requests.memory = "256Mi"; }],
  ["bigger cache, same limit", (a) => { const args = container(a).args; args[args.indexOf("--cache-mb") + 1] = "128"; }],
  ["liveness on another path", (a) => { container(a).livenessProbe.httpGet.path = "/"; }],
  ["no preStop wait", (a) => { delete container(a).lifecycle; }],
  ["grace shorter than preStop + stop", (a) => { find(a, "Deployment").spec.template.spec.terminationGracePeriodSeconds = 12; }],
  ["rollout may drop a replica", (a) => { find(a, "Deployment").spec.strategy.rollingUpdate.maxUnavailable = 1; }],
  ["Service selects nothing", (a) => { find(a, "Service").spec.selector = { app: "other" }; }],
  ["HPA scales another Deployment", (a) => { find(a, "HorizontalPodAutoscaler").spec.scaleTargetRef.name = "other"; }],
  ["scrape annotation on the wrong port", (a) => { find(a, "Deployment").spec.template.metadata.annotations["prometheus.io/port"] = "9090"; }],
];
let missed = 0;
for (const [name, mutate] of faults) {
  const copy = structuredClone(docs);
  try {
    mutate(copy);
  } catch (e) {
    console.log(`   fault "${name}" could not be applied: ${e.message}`);
    missed++;
    continue;
  }
  let found = copy.flatMap(schemaErrors);
  try {
    found = found.concat(policyErrors(copy));
  } catch (e) {
    found.push(`rules could not read the objects: ${e.message}`);  // a malformed object is refused too
  }
  if (found.length === 0) {
    console.log(`   fault "${name}" passed unnoticed`);
    missed++;
  }
}
console.log(`   ${faults.length - missed} of ${faults.length} faults refused`);
process.exit(failed || missed ? 1 : 0);
