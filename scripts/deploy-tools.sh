#!/usr/bin/env bash
# Installs the Kubernetes manifest checker's packages from npm, exactly the versions that
# scripts/deploy-tools/package-lock.json pins (kubernetes-models 5.1.0 and
# @kubernetes-models/prometheus-operator 6.0.0: Kubernetes' OpenAPI schemas and the Prometheus
# Operator's CRD schemas compiled into validators by ajv; yaml 2.9.1), into
# $TAMBREL_DEPLOY_TOOLS (default /var/lib/tambrel/deploy-tools).
# Safe to run again: nothing is fetched while the installed lock file is the same.
# Prints the folder that holds node_modules/.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dir=${TAMBREL_DEPLOY_TOOLS:-/var/lib/tambrel/deploy-tools}

source "$here/npm-pinned.sh"
# The packages ask for node 22; the compiled validators and yaml also run on older ones
# (Debian 12's is 18).
npm_pinned "$here/deploy-tools" "$dir" node_modules/kubernetes-models/package.json node_modules/yaml/package.json \
  -- --engine-strict=false
echo "$dir"
