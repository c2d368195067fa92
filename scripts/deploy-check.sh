#!/usr/bin/env bash
# Checks the deployment files no cluster here can run: the Kubernetes manifests
# (deploy/kubernetes/*.yaml) against Kubernetes' and the Prometheus Operator's schemas and the
# service's own rules (tests/deploy/validate-manifests.mjs, with the npm packages
# scripts/deploy-tools/package-lock.json pins), and the alert rules
# (deploy/prometheus/stampd-rules.yml) with promtool: `check rules`, then `test rules` on
# series that fire and series that stay quiet (tests/deploy/stampd-rules_test.yml).
# Usage: scripts/deploy-check.sh      (scripts/test.sh runs it; no build needed)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
fail() { echo "deploy-check: FAILED: $*"; exit 1; }

echo "-- Kubernetes manifests against their schemas"
tools=$(bash scripts/deploy-tools.sh) || fail "the schema packages (scripts/deploy-tools.sh) could not be installed"
node tests/deploy/validate-manifests.mjs "$tools" deploy/kubernetes/*.yaml || fail "deploy/kubernetes"

echo "-- promtool check rules"
promtool check rules deploy/prometheus/stampd-rules.yml | sed 's/^/   /' || fail "promtool check rules"
echo "-- promtool test rules"
promtool test rules tests/deploy/stampd-rules_test.yml | sed 's/^/   /' || fail "promtool test rules"
echo "deploy-check: passed"
